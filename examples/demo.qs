# A first look at the library through the stand-in host: load it, describe a command,
# try commands before and after loading, and unload. The import commands join this demo
# as they are built.

number fileRef
number fileSize
char path "orders.csv"
file orders.csv "id,name,qty\r\n1,\"Widget, large\",3\r\n2,Gadget,12\r\n"

# Nothing answers before the host loads the library.
call OpenFile path fileRef fileSize
expect rc -1

load
expect loaded

# Set-up information: the library sets its flag word.
setup
expect setup 1

# A file reference that names no open import file is refused.
call ReadRecord 4711 0
expect rc 6
call CloseFile fileRef
expect rc 6

unload
expect unloaded
