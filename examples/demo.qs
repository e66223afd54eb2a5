# The bundled example, imported through the library the way a host method would: open the
# file, describe its records, read them one by one, and close it.

number fileRef
number fileSize
number position
char id
char item
char qty
char price
list format fieldName maxSize delimiter
row format "id" 10 "COMMA"
row format "item" 40 "COMMA"
row format "qty" 6 "COMMA"
row format "price" 10 "CRLF"
file orders.csv "1001,\"Widget, large\",3,12.50\r\n1002,Gadget,12,4.99\r\n1003,\"Gizmo \"\"deluxe\"\"\",1,149.00\r\n1004,  Sprocket  ,250,0.15\r\n"

load
call OpenFile "orders.csv" fileRef fileSize 1
expect rc 0
expect fileSize = 113
call DefineFormat fileRef format "fieldName" "maxSize" "delimiter"
expect rc 0

call ReadRecord fileRef position
expect rc 0
expect id = "1001"
expect item = "Widget, large"
expect position = 30
call ReadRecord fileRef position
expect item = "Gadget"
expect qty = "12"
call ReadRecord fileRef position
expect item = "Gizmo \"\"deluxe\"\""
call ReadRecord fileRef position
expect rc 0
expect item = "Sprocket"
expect price = "0.15"
expect position = 113
call ReadRecord fileRef position
expect rc 7

# And the last record again, reading backwards from the end.
number back 113
call ReadRecord fileRef back 0 1
expect rc 0
expect id = "1004"
expect back = 85

call CloseFile fileRef
expect rc 0
unload
