# DefineFormat and DefineSubs from host lists.

number ref
char a
char b
char c
number pos
list fmt name size delim
list subs target replacement
file data.txt "x,y\rp,q\r"

load
call OpenFile "data.txt" ref
expect rc 0

# No format yet: ReadRecord answers 1, even with too few parameters.
call ReadRecord ref
expect rc 1

# An empty list: 3 for both.
call DefineFormat ref fmt "name" "size" "delim"
expect rc 3
call DefineSubs ref subs "target" "replacement"
expect rc 3

row fmt "a" 10 "COMMA"
row fmt "b" 10 "RETURN"
# Too few parameters, an empty or unknown column name: 3.
call DefineFormat ref fmt "name" "size"
expect rc 3
call DefineFormat ref fmt "name" "size" ""
expect rc 3
call DefineFormat ref fmt "name" "nosuchcolumn" "delim"
expect rc 3
call DefineFormat ref fmt "nosuchcolumn" "size" "delim"
expect rc 3
call DefineFormat ref fmt "name" "size" "nosuchcolumn"
expect rc 3
call DefineFormat ref fmt "name" "size" "delim"
expect rc 0
call ReadRecord ref 0
expect rc 0
expect a = "x"
expect b = "y"

# A bad delimiter in any line leaves no format at all.
list bad name size delim
row bad "a" 10 "COMMA"
row bad "b" 10 "crlf"
call DefineFormat ref bad "name" "size" "delim"
expect rc 3
call ReadRecord ref 0
expect rc 1
list bad2 name size delim
row bad2 "a" 10 "ASC"
call DefineFormat ref bad2 "name" "size" "delim"
expect rc 3
list bad3 name size delim
row bad3 "a" 10 "ASC1234"
call DefineFormat ref bad3 "name" "size" "delim"
expect rc 3

# Substitutions: only the first character of each cell counts.
call DefineFormat ref fmt "name" "size" "delim"
expect rc 0
row subs "xz" "Xq"
row subs "q" ""
call DefineSubs ref subs "nosuchcolumn" "replacement"
expect rc 3
call DefineSubs ref subs "target" "nosuchcolumn"
expect rc 3
call DefineSubs ref subs "target" "replacement"
expect rc 0
call ReadRecord ref 0
expect a = "X"
call ReadRecord ref 4
expect b = ""

# A format entry without a name: its bytes are consumed all the same.
list skip name size delim
row skip "" 10 "COMMA"
row skip "c" 10 "RETURN"
call DefineFormat ref skip "name" "size" "delim"
expect rc 0
number p 0
call ReadRecord ref p
expect rc 0
expect c = "y"
expect p = 4

# Every delimiter keyword.
file kinds.txt "1\t2,3;4\r5\r\n6|7~~~8"
number k
call OpenFile "kinds.txt" k
list all name size delim
char f1
char f2
char f3
char f4
char f5
char f6
char f7
char f8
row all "f1" 5 "TAB"
row all "f2" 5 "COMMA"
row all "f3" 5 "SEMICO"
row all "f4" 5 "RETURN"
row all "f5" 5 "CRLF"
row all "f6" 5 "ASC|"
row all "f7" 5 "ASC~~~"
row all "f8" 1 "MAX"
call DefineFormat k all "name" "size" "delim"
expect rc 0
number kp 0
call ReadRecord k kp
expect rc 0
expect f1 = "1"
expect f2 = "2"
expect f3 = "3"
expect f4 = "4"
expect f5 = "5"
expect f6 = "6"
expect f7 = "7"
expect f8 = "8"
expect kp = 18
unload
