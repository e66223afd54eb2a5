# CSV quoting (the sixth OpenFile parameter) and the LF and EOL delimiters, on every build:
# the 8-bit build too, since the quoting works on bytes.

number ref
number size
number p
number n
char a "unset"
char b "unset"
char c "unset"
char data "unset"
list fmt name size delim
row fmt "a" 20 "COMMA"
row fmt "b" 20 "COMMA"
row fmt "c" 20 "EOL"
list two name size delim
row two "a" 40 "COMMA"
row two "b" 40 "EOL"
file hi.csv "1,\"say \"\"hi\"\", ok\",3\n"

load
# Only an empty text, CSV or csv are quotings; anything else opens nothing.
call OpenFile "hi.csv" ref size 0 "" "TSV"
expect rc 3
expect ref = 0
call OpenFile "hi.csv" ref size 0 "" "Csv"
expect rc 3
call OpenFile "hi.csv" ref size 0 "" "CSV "
expect rc 3
# A dialect mark given twice, or a text too short or too long to be one: 3 as well.
call OpenFile "hi.csv" ref size 0 "" "CS"
expect rc 3
call OpenFile "hi.csv" ref size 0 "" "CSV''"
expect rc 3
call OpenFile "hi.csv" ref size 0 "" "CSV\\\\"
expect rc 3
call OpenFile "hi.csv" ref size 0 "" "CSV'\\'"
expect rc 3
expect ref = 0
call OpenFile "hi.csv" ref size 0 "" "csv\\'"
expect rc 0
call CloseFile ref
call OpenFile "hi.csv" ref size 0 "" "csv"
expect rc 0
call CloseFile ref

# Under the enclosing-quote rule a delimiter after an escaped quote ends the value, and every
# later field shifts; under CSV the value holds its doubled quotes and its comma.
call OpenFile "hi.csv" ref size 1
call DefineFormat ref fmt "name" "size" "delim"
call ReadRecord ref p
expect rc 0
expect a = "1"
expect b = "say \"\"hi\""
expect c = "ok\",3"
call CloseFile ref
call OpenFile "hi.csv" ref size 1 "" "CSV"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "1"
expect b = "say \"hi\", ok"
expect c = "3"
expect p = 21
# Backwards, the same record.
call ReadRecord ref p 0 1
expect rc 0
expect b = "say \"hi\", ok"
expect p = 0
# ReadUpTo and ReadBytes read raw bytes under CSV as well.
call ReadUpTo ref p 0 "," 100 data n
expect data = "1"
call ReadUpTo ref p 0 "," 100 data n
expect data = "\"say \"\"hi\"\""
expect p = 14
number p 2
call ReadBytes ref p 0 5 data n
expect data = "\"say"
expect n = 5
call CloseFile ref

# Quoted values keep their blanks; unquoted ones are trimmed; enclosing-quote stripping plays
# no part (a value that opens with a blank is not quoted).
file blanks.csv "\"  x  \",  y  , \"z\" \r\n"
call OpenFile "blanks.csv" ref size 1 "" "CSV"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "  x  "
expect b = "y"
expect c = "\"z\""
expect p = 21

# Substitutions and strip? act on the value after its quotes are resolved.
list subs target replacement
row subs "\"" "'"
file subs.csv "\"a \"\"q\"\"\",\"t\tu\",\"l\nm\"\n"
call OpenFile "subs.csv" ref size 0 "" "CSV"
call DefineFormat ref fmt "name" "size" "delim"
call DefineSubs ref subs "target" "replacement"
number p 0
call ReadRecord ref p 1
expect rc 0
expect a = "a 'q'"
expect b = "t u"
expect c = "lm"
call CloseFile ref

# A value beyond its maximum: 11, its first bytes, and the position after the whole piece and
# its delimiter, never inside the quotes; the later fields keep their values.
list short name size delim
row short "a" 4 "COMMA"
row short "b" 4 "COMMA"
row short "c" 4 "EOL"
file long.csv "\"ab,\"\"cdefg\",x,y\nz,w,v\n"
char b "keep"
call OpenFile "long.csv" ref size 0 "" "CSV"
call DefineFormat ref short "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 11
expect a = "ab,\""
expect b = "keep"
expect p = 13
# Backwards the over-long value still reads through to the record's end: the record is found.
number q 17
call ReadRecord ref q 0 1
expect rc 11
expect a = "ab,\""
expect q = 0
call CloseFile ref

# LF and EOL, under either quoting: EOL takes Unix, Windows and mixed line ends alike, and
# backward reads find the record after the nearest line feed.
file mixed.txt "a,b\r\nc,d\ne,f\r\n"
call OpenFile "mixed.txt" ref size
call DefineFormat ref two "name" "size" "delim"
number p 0
call ReadRecord ref p
expect b = "b"
expect p = 5
call ReadRecord ref p
expect b = "d"
expect p = 9
number q 14
call ReadRecord ref q 0 1
expect rc 0
expect a = "e"
expect b = "f"
expect q = 9
call ReadRecord ref q 0 1
expect a = "c"
expect q = 5
list lf name size delim
row lf "a" 40 "COMMA"
row lf "b" 40 "LF"
call DefineFormat ref lf "name" "size" "delim"
number p 0
call ReadRecord ref p
expect b = "b\r"
call CloseFile ref
# Other cells still answer 3.
list bad name size delim
row bad "a" 4 "Lf"
call OpenFile "mixed.txt" ref size
call DefineFormat ref bad "name" "size" "delim"
expect rc 3
call CloseFile ref

# Backwards over line ends inside quoted values: the record start is the nearest line end with
# an even number of quotes after it from which the record reads to its end.
file notes.csv "k,v\n7,\"Call back\nasked about order 5, urgent\"\n"
call OpenFile "notes.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number q 46
call ReadRecord ref q 0 1
expect rc 0
expect a = "7"
expect b = "Call back\nasked about order 5, urgent"
expect q = 4
call ReadRecord ref q 0 1
expect a = "k"
expect q = 0
call CloseFile ref
# A stray quote in an unquoted value makes the parity odd: the nearest start from which the
# record reads to its end is taken instead.
file stray.csv "b,c\nd,5\" tv\n"
call OpenFile "stray.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number q 12
call ReadRecord ref q 0 1
expect a = "d"
expect b = "5\" tv"
expect q = 4
call CloseFile ref
# Two stray quotes that once read differently forwards and backwards. A quoted value that
# crosses a line end and does not close well is a stray quote (14): forwards "x is plain text
# and the line ends the record, so both directions read y and z"w" as the next record. And a
# stray quote in a record after one whose quoted value holds a line end: the record rule
# keeps the line end inside the earlier value from being taken as a record start.
file wrong1.csv "k,v\n1,\"x\ny,z\"w\"\n"
call OpenFile "wrong1.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number p 4
call ReadRecord ref p
expect rc 14
expect a = "1"
expect b = "\"x"
expect p = 9
call ReadRecord ref p
expect rc 0
expect a = "y"
expect b = "z\"w\""
number q 16
call ReadRecord ref q 0 1
expect a = "y"
expect b = "z\"w\""
expect q = 9
call CloseFile ref
file wrong2.csv "a,\"b\nc\"\nd,5\" tv\n"
call OpenFile "wrong2.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number q 16
call ReadRecord ref q 0 1
expect a = "d"
expect b = "5\" tv"
expect q = 8
call ReadRecord ref q 0 1
expect a = "a"
expect b = "b\nc"
expect q = 0
call CloseFile ref

# The field and clipboard sources read the same way.
char text "x,\"y\r\nz\",\"\"\n"
call OpenFile "FIELD:text" ref size 0 "" "CSV"
expect rc 0
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect b = "y\r\nz"
expect c = ""
expect p = 12
call CloseFile ref
@windows clipboard "x,\"y,z\",w\r\n"
@windows call OpenFile "CLIPBOARD" ref size 0 "" "CSV"
@windows call DefineFormat ref fmt "name" "size" "delim"
@windows number p 0
@windows call ReadRecord ref p
@windows expect b = "y,z"
@windows expect c = "w"
@windows call CloseFile ref

# In a UTF-8 source an ASC delimiter is the UTF-8 of its characters, at most 3 bytes.
list euro name size delim
row euro "a" 20 "ASC\u{20AC}"
row euro "b" 20 "EOL"
list emoji name size delim
row emoji "a" 20 "ASC\u{1F600}"
row emoji "b" 20 "EOL"
file euro.txt "\"1\xE2\x82\xAC2\"\xE2\x82\xAC3\r\n"
@unicode call OpenFile "euro.txt" ref size 0 "UTF-8" "CSV"
@unicode call DefineFormat ref euro "name" "size" "delim"
@unicode expect rc 0
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "1\u{20AC}2"
@unicode expect b = "3"
@unicode expect p = 13
@unicode call DefineFormat ref emoji "name" "size" "delim"
@unicode expect rc 3
@unicode call CloseFile ref
# A quoted value cut by its maximum ends on a whole character.
file accents.txt "\"aaa\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\",x\n"
@unicode call OpenFile "accents.txt" ref size 0 "UTF-8" "CSV"
@unicode call DefineFormat ref short "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 11
@unicode expect a = "aaa"
@unicode expect p = 14
@unicode call CloseFile ref

# Backwards, records bounded by their line end: a short one (12) after a line that holds a
# stray quote; blank lines, each a record of no pieces (12); a last entry without a delimiter
# finds no start.
file nofit.csv "p\"\nq\n"
call OpenFile "nofit.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number q 5
call ReadRecord ref q 0 1
expect rc 12
expect a = "q"
expect b = ""
expect q = 3
call CloseFile ref
file blank.csv "x,y\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
call OpenFile "blank.csv" ref size 0 "" "CSV"
call DefineFormat ref two "name" "size" "delim"
number q 74
call ReadRecord ref q 0 1
expect rc 12
expect a = ""
expect q = 73
list fixedEnd name size delim
row fixedEnd "a" 5 "COMMA"
row fixedEnd "b" 2 "MAX"
call DefineFormat ref fixedEnd "name" "size" "delim"
number q 74
call ReadRecord ref q 0 1
expect rc 11
expect q = 74
call CloseFile ref

# The record rule with formats of other shapes. A fixed-length entry reads its bytes whatever
# the line; the entries after it still stop at the line end.
file shapes.csv "ab1,2\ncd3\n\"e,f\",4\n"
list fixedFirst name size delim
row fixedFirst "a" 2 "MAX"
row fixedFirst "b" 20 "COMMA"
row fixedFirst "c" 20 "EOL"
call OpenFile "shapes.csv" ref size 0 "" "CSV"
call DefineFormat ref fixedFirst "name" "size" "delim"
number q 0
call ReadRecord ref q
expect rc 0
expect a = "ab"
expect b = "1"
expect c = "2"
call ReadRecord ref q
expect rc 12
expect a = "cd"
expect b = "3"
expect c = ""
expect q = 10
# Backwards from the end: the quoted comma is no separator.
number q 18
list lineThenEnd name size delim
row lineThenEnd "a" 20 "LF"
row lineThenEnd "b" 20 "EOL"
call DefineFormat ref lineThenEnd "name" "size" "delim"
call ReadRecord ref q 0 1
expect rc 0
expect a = "cd3"
expect b = "e,f,4"
expect q = 6
# A last delimiter that is no line end (a comma and a space) leaves the record unbounded.
number ref2
file spaced.csv "1, 2, 3\n4, 5"
list commaSpace name size delim
row commaSpace "a" 20 "COMMA"
row commaSpace "b" 20 "ASC, "
call OpenFile "spaced.csv" ref2 size 0 "" "CSV"
call DefineFormat ref2 commaSpace "name" "size" "delim"
number q 0
call ReadRecord ref2 q
expect rc 0
expect a = "1"
expect b = "2"
expect q = 6
call ReadRecord ref2 q
expect rc 9
expect a = "3\n4"
expect b = "5"
call CloseFile ref2
# One entry ending at the line end: each line is a record, forwards and backwards.
list single name size delim
row single "a" 20 "EOL"
call DefineFormat ref single "name" "size" "delim"
number q 18
call ReadRecord ref q 0 1
expect rc 0
expect a = "e,f,4"
call ReadRecord ref q 0 1
expect a = "cd3"
expect q = 6
call CloseFile ref

# Backwards over a long quoted value with CRLF line ends inside it: the line ends inside the
# quotes are passed over, and the record starts after the nearest line end outside them.
file longq.csv "h1,h2\r\n1,\"line one of a long value\r\nline two of it\r\nline three, with a comma\r\nand four\"\r\n2,short\r\n"
list crlf name size delim
row crlf "a" 100 "COMMA"
row crlf "b" 100 "CRLF"
call OpenFile "longq.csv" ref size 0 "" "CSV"
call DefineFormat ref crlf "name" "size" "delim"
number q 98
call ReadRecord ref q 0 1
expect rc 0
expect a = "2"
expect b = "short"
expect q = 89
call ReadRecord ref q 0 1
expect rc 0
expect a = "1"
expect b = "line one of a long value\r\nline two of it\r\nline three, with a comma\r\nand four"
expect q = 7
call ReadRecord ref q 0 1
expect a = "h1"
expect q = 0
call CloseFile ref

# Backwards past a record that ends early: the trial read that looks for the record's start
# once went on reading the next lines into the entries after the early end, and took three
# short lines for one whole record.
file early.csv "-02\n29899;577.48;419.48;2026-11-21;alpha;2026-05-23\n\nk;v\n0;victor\n1;kilo\n2;kilo\n"
list six name size delim
row six "a" 32000 "SEMICO"
row six "b" 32000 "SEMICO"
row six "c" 32000 "SEMICO"
row six "d" 32000 "SEMICO"
row six "e" 32000 "SEMICO"
row six "f" 32000 "EOL"
call OpenFile "early.csv" ref size 0 "" "CSV"
call DefineFormat ref six "name" "size" "delim"
number q 80
call ReadRecord ref q 0 1
expect rc 12
expect a = "2"
expect b = "kilo"
expect q = 73
call ReadRecord ref q 0 1
expect a = "1"
expect q = 66
call CloseFile ref

# A stray quote on the second line of a record whose first line ends inside a quoted value:
# backwards, the line end inside the value looks like a record start from which the rest
# reads short; the start before it reads the whole record, as forward reads do (code 14).
file strayafter.csv "1, 'a', z\n2, 'b\nc', 'd\n3, x, y\n"
list triple name size delim
row triple "a" 100 "ASC, "
row triple "b" 100 "ASC, "
row triple "c" 100 "EOL"
call OpenFile "strayafter.csv" ref size 0 "" "CSV'"
call DefineFormat ref triple "name" "size" "delim"
number q 10
call ReadRecord ref q
expect rc 14
expect b = "b\nc"
expect c = "'d"
number q 31
call ReadRecord ref q 0 1
expect a = "3"
expect q = 23
call ReadRecord ref q 0 1
expect rc 14
expect a = "2"
expect b = "b\nc"
expect c = "'d"
expect q = 10
call CloseFile ref

# A backslash escape that the data ends after stands for itself, in a plain value and in an
# open quoted one (which, crossing no line end, is no stray quote).
file escend.csv "a,b\\"
call OpenFile "escend.csv" ref size 0 "" "CSV\\"
call DefineFormat ref two "name" "size" "delim"
number q 0
call ReadRecord ref q
expect rc 9
expect a = "a"
expect b = "b\\"
call CloseFile ref
file escopen.csv "a,\"b\\"
call OpenFile "escopen.csv" ref size 0 "" "CSV\\"
call DefineFormat ref two "name" "size" "delim"
number q 0
call ReadRecord ref q
expect rc 9
expect b = "b\\"
call CloseFile ref

# The backward search's last rules. A start whose record reads short only because a stray
# quote cut it is taken when no other start reads the record whole (rule 3); when none reads
# it at all, the nearest occurrence is (rule 4), and the record reads from there as it would
# forwards.
list three name size delim
row three "a" 20 "COMMA"
row three "b" 20 "COMMA"
row three "c" 20 "EOL"
file cut.csv "a,\"b\n"
call OpenFile "cut.csv" ref size 0 "" "CSV"
call DefineFormat ref three "name" "size" "delim"
number q 5
call ReadRecord ref q 0 1
expect rc 14
expect a = "a"
expect b = "\"b"
expect c = ""
expect q = 0
call CloseFile ref
list semi name size delim
row semi "a" 20 "COMMA"
row semi "b" 20 "SEMICO"
file semi.csv "a,b;x;"
call OpenFile "semi.csv" ref size 0 "" "CSV"
call DefineFormat ref semi "name" "size" "delim"
number q 6
call ReadRecord ref q 0 1
expect rc 9
expect a = "x;"
expect q = 4
number p 4
call ReadRecord ref p
expect rc 9
expect a = "x;"
expect p = 6
call CloseFile ref

# A quoted value at its maximum whose every character is a doubled quote is within a
# backward read's reach, as forwards.
list q3 name size delim
row q3 "a" 3 "CRLF"
file qq.csv "x\r\n\"\"\"\"\"\"\"\"\r\n"
call OpenFile "qq.csv" ref size 0 "" "CSV"
call DefineFormat ref q3 "name" "size" "delim"
number p 13
call ReadRecord ref p 0 1
expect rc 0
expect a = "\"\"\""
expect p = 3
number p 3
call ReadRecord ref p
expect rc 0
expect a = "\"\"\""
expect p = 13
call CloseFile ref
