# ReadRecord forwards and backwards over every source kind the build has.

number ref
number pos
number size
char a "unset"
char b "unset"
list fmt name size delim
row fmt "a" 10 "COMMA"
row fmt "b" 10 "RETURN"
file eight.txt "x,y\rp,q\r"
file seven.txt "x,y\rp,q"
char fieldText "x,y\rp,q\r"

load
call OpenFile "eight.txt" ref size
expect size = 8
call DefineFormat ref fmt "name" "size" "delim"
expect rc 0

# Forwards: record by record, then 7 with nothing written.
number p 0
call ReadRecord ref p
expect rc 0
expect a = "x"
expect b = "y"
expect p = 4
call ReadRecord ref p
expect rc 0
expect a = "p"
expect b = "q"
expect p = 8
char a "keep"
call ReadRecord ref p
expect rc 7
expect p = 8
expect a = "keep"

# Backwards from the end: the record that ends there, then the one before, then 7.
number q 8
call ReadRecord ref q 0 1
expect rc 0
expect a = "p"
expect b = "q"
expect q = 4
call ReadRecord ref q 0 1
expect rc 0
expect a = "x"
expect b = "y"
expect q = 0
call ReadRecord ref q 0 1
expect rc 7
expect q = 0

# Backwards from inside a record: the window does not end with the delimiter.
number r 6
call ReadRecord ref r 0 1
expect rc 9
expect a = "p"
expect b = ""
expect r = 4

# A position past the end, or at it going forwards: 7.
number far 9
call ReadRecord ref far
expect rc 7
call ReadRecord ref far 0 1
expect rc 7
# Too few parameters after the format check: 3.
call ReadRecord ref
expect rc 3

# Without the final carriage return the last record ends with the data.
number ref7
call OpenFile "seven.txt" ref7
call DefineFormat ref7 fmt "name" "size" "delim"
number p7 4
call ReadRecord ref7 p7
expect rc 9
expect a = "p"
expect b = "q"
expect p7 = 7
call ReadRecord ref7 p7
expect rc 7

# The same records from a field's text.
number fref
call OpenFile "FIELD:fieldText" fref size
expect fref = 2
expect size = 8
call DefineFormat fref fmt "name" "size" "delim"
number fp 4
call ReadRecord fref fp
expect rc 0
expect a = "p"
expect fp = 8
number fb 8
call ReadRecord fref fb 0 1
expect rc 0
expect b = "q"
expect fb = 4

# A negative position reads nothing, from a file or from memory.
number neg -3
call ReadRecord ref neg
expect rc 7
call ReadRecord fref neg
expect rc 7
expect neg = -3

# An over-long field keeps its maximum and stops the record there.
file long.txt "abcdefghijklmnop,z\r"
number lref
call OpenFile "long.txt" lref
call DefineFormat lref fmt "name" "size" "delim"
number lp 0
call ReadRecord lref lp
expect rc 11
expect a = "abcdefghij"
expect lp = 10

# Stripping and enclosing quotes, opened with quote stripping on.
file quoted.txt "\"  Widget, large \",\tb\x01\r  \"x,y\",z\r"
number qref
call OpenFile "quoted.txt" qref size 1
call DefineFormat qref fmt "name" "size" "delim"
list wide name size delim
row wide "a" 40 "COMMA"
row wide "b" 40 "RETURN"
call DefineFormat qref wide "name" "size" "delim"
number qp 0
call ReadRecord qref qp 1
expect rc 0
expect a = "Widget, large"
expect b = "b"
# Blanks before the opening quote: the first comma ends the field; the quotes stay.
call ReadRecord qref qp 1
expect rc 0
expect a = "\"x"
expect b = "y\",z"
# A quote that closes nothing stays, with or without stripping; blanks come off around it.
file closing.txt "ab\",  x  ,\"q\"\r  \" ,z\r"
number cref
call OpenFile "closing.txt" cref size 1
call DefineFormat cref wide "name" "size" "delim"
number cp 0
call ReadRecord cref cp 0
expect rc 0
expect a = "ab\""
expect b = "x  ,\"q\""
call ReadRecord cref cp 1
expect rc 0
expect a = "\""
expect b = "z"
call CloseFile cref
unload
