# ReadUpTo and ReadBytes, and the backward-read boundaries.

number ref
number size
char data "unset"
number n
file lines.txt "first line\r\nsecond\r\n  a  "

load
call OpenFile "lines.txt" ref size
expect size = 25

# A line and its line end.
number p 0
call ReadUpTo ref p 0 "\r\n" 100 data n
expect rc 0
expect data = "first line"
expect n = 10
expect p = 12
call ReadUpTo ref p 0 "\r\n" 100 data
expect data = "second"
expect p = 20
# The rest has no line end: 9, and the conditioned length.
call ReadUpTo ref p 0 "\r\n" 100 data n
expect rc 9
expect data = "a"
expect n = 1
expect p = 25
call ReadUpTo ref p 0 "\r\n" 100 data
expect rc 7

# No terminator: exactly maxLength bytes. ReadBytes reports the bytes before conditioning.
number q 20
call ReadUpTo ref q 0 "" 5 data n
expect rc 0
expect data = "a"
expect n = 1
number r 20
call ReadBytes ref r 0 5 data n
expect rc 0
expect data = "a"
expect n = 5
expect r = 25
# Without the count variable the bytes are stored all the same, and n keeps its value.
number r2 12
call ReadBytes ref r2 0 6 data
expect rc 0
expect data = "second"
expect n = 5
expect r2 = 18

# Parameter checks come before reading, and nothing is written back.
number s 0
call ReadUpTo ref s 0 "," 0 data
expect rc 3
call ReadUpTo ref s 0 "," 5
expect rc 3
call ReadBytes ref s 0 0 data
expect rc 3
call ReadBytes ref s 0 32001 data
expect rc 3
call ReadBytes ref s 0 32000 data n
expect rc 8
expect n = 25
expect s = 25
# Ten bytes with four left: 8.
number t 21
call ReadBytes ref t 0 10 data n
expect rc 8
expect n = 4
expect t = 25

# Backwards: a last entry that shares its delimiter with the others finds the nearest one.
file commas.txt "a,b,c,d,"
number cref
call OpenFile "commas.txt" cref
char x
char y
list cc name size delim
row cc "x" 5 "COMMA"
row cc "y" 5 "COMMA"
call DefineFormat cref cc "name" "size" "delim"
number cp 8
call ReadRecord cref cp 0 1
expect rc 9
expect x = "d"
expect cp = 6

# A fixed-length last entry marks no boundary: 11 unless the window starts at 0.
file fixed.txt "0123456789ABCDEFGHIJ"
number fref
call OpenFile "fixed.txt" fref
list ff name size delim
row ff "x" 2 "MAX"
call DefineFormat fref ff "name" "size" "delim"
number fp 20
call ReadRecord fref fp 0 1
expect rc 11
expect fp = 20
number fq 4
call ReadRecord fref fq 0 1
expect rc 0
expect x = "01"
expect fq = 0

# An empty file: every read answers 7.
file empty.txt ""
number eref
call OpenFile "empty.txt" eref size
expect size = 0
number ep 0
call ReadBytes eref ep 0 1 data
expect rc 7
call ReadUpTo eref ep 0 "," 1 data
expect rc 7
unload
