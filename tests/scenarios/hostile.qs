# Hostile numbers and paths: every number is taken at its full width and range-checked,
# keywords and path lengths are judged on the host's own characters.

number ref
number size
number p
number n
char data "unset"
char a "unset"
char b "unset"
file data.txt "ab\x01c,de\r\nfg,hi\r\n"
list fmt name size delim
row fmt "a" 10 "COMMA"
row fmt "b" 10 "CRLF"

load
call OpenFile "data.txt" ref size
expect rc 0

# Counts and maxima beyond 16 bits are refused, never wrapped to small ones.
call ReadBytes ref p 0 65537 data n
expect rc 3
expect data = "unset"
call ReadBytes ref p 0 32001 data n
expect rc 3
call ReadBytes ref p 0 -65535 data n
expect rc 3
call ReadUpTo ref p 0 "," 65538 data n
expect rc 3
call ReadUpTo ref p 0 "," 32001 data n
expect rc 3
call ReadUpTo ref p 0 "," 0 data n
expect rc 3
call ReadUpTo ref p 0 "," 32000 data n
expect rc 0
expect data = "ab\x01c"
number p0 0
call ReadBytes ref p0 0 1.9 data n
expect rc 0
expect data = "a"

# A flag is true for any nonzero value, 65536 included, on every build.
call DefineFormat ref fmt "name" "size" "delim"
number q 0
call ReadRecord ref q 65536
expect rc 0
expect a = "abc"
number r 0
call ReadRecord ref r 0
expect a = "ab\x01c"

# Format maxima outside 0 to 32000 answer 3 and leave no format.
list big name size delim
row big "a" 10 "COMMA"
row big "b" 40000 "CRLF"
call DefineFormat ref big "name" "size" "delim"
expect rc 3
call ReadRecord ref p
expect rc 1
list neg name size delim
row neg "a" -1 "COMMA"
call DefineFormat ref neg "name" "size" "delim"
expect rc 3
list edge name size delim
row edge "a" 0 "COMMA"
row edge "b" 32000 "CRLF"
call DefineFormat ref edge "name" "size" "delim"
expect rc 0
call DefineFormat ref fmt "name" "size" "delim"
expect rc 0

# Positions beyond 32 bits are past any end.
number far 4294967296
call ReadRecord ref far
expect rc 7
number before -2147483648
call ReadBytes ref before 0 1 data
expect rc 7
number huge 1e300
call ReadRecord ref huge 0 1
expect rc 7

# Keywords match whole host characters: U+0146 is not "F", so this is a disk path.
@unicode char fake "\u{146}IELD:data"
@unicode call OpenFile fake n
@unicode expect rc 2
@unicode expect n = 0

# A path longer than 255 characters opens nothing, even where its first 255 characters
# name a file.
file xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx "x"
call OpenFile "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxy" n
expect rc 2
expect n = 0

# A folder is not a file.
call OpenFile "." n
expect rc 2

# A name that begins with a character beyond 8 bits opens on Windows; the macOS File Manager
# cannot name it, so it is not found rather than cut to another name.
@unicode file "\u{4E00}.txt" "abc"
@unicode char chinese "\u{4E00}.txt"
@unicode call OpenFile chinese n size
@windows @unicode expect rc 0
@windows @unicode expect size = 3
@mac expect rc 2

# Definitions that name what is not there change nothing.
list subs target repl
row subs "a" "b"
call DefineFormat ref fmt "name" "nope" "delim"
expect rc 3
call DefineSubs ref subs "target"
expect rc 3
call DefineSubs ref subs "target" "nope"
expect rc 3
call DefineSubs ref subs "target" "repl"
expect rc 0
call DefineSubs ref subs "target" "repl"
expect rc 0
number s0 0
call ReadRecord ref s0
expect rc 0
expect a = "bb\x01c"

# A field source read backwards, and read before its text.
char v "x,y\r\np,q\r\n"
number f 0
number fsize 0
call OpenFile "FIELD:v" f fsize
expect rc 0
call DefineFormat f fmt "name" "size" "delim"
number back 10
call ReadRecord f back 0 1
expect rc 0
expect a = "p"
expect back = 5
number neg -3
call ReadUpTo f neg 0 "," 10 data
expect rc 7
call ReadBytes f neg 0 10 data
expect rc 7
