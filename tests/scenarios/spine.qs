# Load, unload and the checks every command shares.

number ref
number size
char text "abc"

# Before any load every command answers -1, About included.
call About
expect rc -1
call OpenFile "x" ref
expect rc -1
call #0 ref
expect rc -1
call #-3
expect rc -1
expect unloaded

load
expect loaded
# A second load changes nothing.
load
expect slot unchanged
expect calls 0

# Parameter 1 of 0, or naming nothing: 6.
call CloseFile 0
expect rc 6
call CloseFile ref
expect rc 6
call ReadRecord 12345 0
expect rc 6
call ReadBytes 1 0 0 3 text
expect rc 6
call ReadUpTo 2 0 0 "," 10 text
expect rc 6
call DefineFormat 99
expect rc 6
# Only the return code was written, and the parameter kept its value.
expect writes 1
expect text = "abc"

# Unassigned command numbers: 0 with a usable file reference (none here), 6 without.
call #9 0
expect rc 6
call #0 7
expect rc 6
call #-1 7
expect rc 6
call #32767 7
expect rc 6

# A parameter count that is not a whole number is read truncated, and does not matter here.
call CloseFile 2.9
expect rc 6

# Unknown message codes read and write nothing.
message 5
expect calls 0
expect slot unchanged
message -1
expect calls 0
expect slot unchanged
message 32767
expect calls 0

# Set-up: the flag word at offset 14 becomes 1, nothing else changes.
setup
expect setup 1

unload
expect unloaded
# Unloading twice is harmless.
unload
expect unloaded
expect calls 0
call CloseFile 1
expect rc -1

# Loading again after an unload works.
load
expect loaded
call CloseFile 3
expect rc 6
unload
