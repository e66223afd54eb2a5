# Opening and closing sources: disk files, field text, keywords and failures.

number ref
number ref2
number size
number none
char text "abc"
char empty
file data.txt "hello, world\r\n"
file second.txt "x"

load
call About
expect rc "Quillomar 1.0.0"

# A disk file: a reference other than 0, 1 and 2, and its size.
call OpenFile "data.txt" ref size
expect rc 0
expect size = 14
call OpenFile "second.txt" ref2
expect rc 0
call CloseFile ref2
expect rc 0
expect ref2 = 0
# Closing again names nothing.
call CloseFile ref2
expect rc 6

# Too few parameters: 3 and nothing written.
number untouched 77
call OpenFile "data.txt"
expect rc 3

# A missing file: 2, and the reference parameter is 0.
number missing 5
number missingSize 9
call OpenFile "no-such-file.txt" missing missingSize
expect rc 2
expect missing = 0
expect missingSize = 0
# "clipboard" in lower case, or the keyword with a blank, is a (missing) file name.
call OpenFile "clipboard" missing
expect rc 2
call OpenFile "CLIPBOARD " missing
expect rc 2
# An empty path: 3.
call OpenFile "" missing
expect rc 3
expect missing = 0

# Field text: the variable's characters, size in bytes.
call OpenFile "FIELD:text" none size
expect rc 0
expect none = 2
expect size = 3
call CloseFile 2
expect rc 0
# An unknown field: 1; an empty one: 3.
call OpenFile "FIELD:nothing" none
expect rc 1
expect none = 0
call OpenFile "FIELD:empty" none
expect rc 3
# The prefix is case-sensitive.
call OpenFile "field:text" none
expect rc 2

# The first file is still open and readable after all of that.
call CloseFile ref
expect rc 0
expect ref = 0
unload
