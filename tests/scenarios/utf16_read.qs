# Reading UTF-16: line ends, surrogate pairs at a maximum's cut, what forms no character,
# byte-order marks, ASC delimiters, substitutions and CSV quoting.

only unicode
number ref
number size
number p
number n
char a "unset"
char b "unset"
char c "unset"
list fmt name size delim
row fmt "a" 40 "COMMA"
row fmt "b" 40 "EOL"
# x U+0A0D U+0D0A ; y CR LF z ; w CR LF: units that hold a CR's and a LF's bytes
file lines.csv "x\x00\x0D\x0A\x0A\x0D;\x00y\x00\x0D\x00\x0A\x00z\x00;\x00w\x00\x0D\x00\x0A\x00"
# a b U+1F600 c LF q LF
file pair.csv "a\x00b\x00=\xD8\x00\xDEc\x00\x0A\x00q\x00\x0A\x00"
# a , b LF and a lone last byte
file tail.csv "a\x00,\x00b\x00\x0A\x00c"
# an unpaired high surrogate, a , and an unpaired low one
file lone.csv "\x00\xD8a\x00,\x00\x00\xDC\x0A\x00"
file markbe.csv "\xFE\xFF\x00a\x00,\x00b\x00\x0A\x00c\x00,\x00d\x00\x0A"
file markle.csv "\xFF\xFEa\x00,\x00b\x00\x0A\x00c\x00,\x00d\x00\x0A\x00"
file plain.csv "a\x00,\x00b\x00\x0A\x00"
# 1 € 2 € é - LF
file euro.csv "1\x00\xAC 2\x00\xAC \xE9\x00-\x00\x0A\x00"
# 'a,U+2C00''b',"c CR LF \'d',e CR LF
file csv.csv "'\x00a\x00,\x00\x00,'\x00'\x00b\x00'\x00,\x00\"\x00c\x00\x0D\x00\x0A\x00\\\x00'\x00d\x00'\x00,\x00e\x00\x0D\x00\x0A\x00"

load
list semi name size delim
row semi "a" 40 "SEMICO"
row semi "b" 40 "CRLF"
call OpenFile "lines.csv" ref size 0 "UTF-16LE"
call DefineFormat ref semi "name" "size" "delim"
call ReadRecord ref p
expect rc 0
expect a = "x\u{A0D}\u{D0A}"
expect b = "y"
expect p = 14
call ReadRecord ref p
expect a = "z"
expect b = "w"
expect p = 24
call ReadRecord ref p 0 1
expect a = "z"
expect p = 14
call ReadRecord ref p 0 1
expect a = "x\u{A0D}\u{D0A}"
expect p = 0
call CloseFile ref

# A maximum that would split a surrogate pair cuts before it; the next read starts with it.
list six name size delim
row six "a" 6 "EOL"
call OpenFile "pair.csv" ref size 0 "UTF-16LE"
call DefineFormat ref six "name" "size" "delim"
call ReadRecord ref p
expect rc 11
expect a = "ab"
expect p = 4
call ReadRecord ref p
expect rc 0
expect a = "\u{1F600}c"
expect p = 12
call CloseFile ref
# Under CSV quoting an over-long value is passed whole.
call OpenFile "pair.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref six "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 11
expect a = "ab"
expect p = 12
call ReadRecord ref p
expect rc 0
expect a = "q"
expect p = 16
call ReadRecord ref p 0 1
expect a = "q"
expect p = 12
call ReadRecord ref p 0 1
expect rc 11
expect a = "ab"
expect p = 0
call CloseFile ref

# A lone last byte is U+FFFD; forwards and backwards alike.
call OpenFile "tail.csv" ref size 0 "UTF-16LE"
expect size = 9
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect p = 8
call ReadRecord ref p
expect rc 9
expect a = "\u{FFFD}"
expect p = 9
call ReadRecord ref p
expect rc 7
call ReadRecord ref p 0 1
expect rc 9
expect a = "\u{FFFD}"
expect p = 8
call CloseFile ref
call OpenFile "lone.csv" ref size 0 "UTF-16LE"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\u{FFFD}a"
expect b = "\u{FFFD}"
expect p = 10
call CloseFile ref

# UTF-16 takes its byte order from its mark; the mark belongs to no record, positions count it.
call OpenFile "markbe.csv" ref size 0 "UTF-16"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "a"
expect b = "b"
expect p = 10
call ReadRecord ref p
expect a = "c"
expect p = 18
call ReadRecord ref p 0 1
expect a = "c"
expect p = 10
call ReadRecord ref p 0 1
expect a = "a"
expect p = 0
call CloseFile ref
call OpenFile "markle.csv" ref size 0 "utf-16le"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "a"
expect p = 10
call CloseFile ref
call OpenFile "plain.csv" ref size 0 "UTF-16"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "a"
expect b = "b"
call CloseFile ref

# ASC delimiters are characters; substitutions act on ASCII as in UTF-8.
list euro name size delim
row euro "a" 40 "ASC\u{20AC}"
row euro "b" 40 "ASC\u{20AC}"
row euro "c" 40 "EOL"
list subs target replacement
row subs "-" "_"
call OpenFile "euro.csv" ref size 0 "UTF-16LE"
call DefineFormat ref euro "name" "size" "delim"
expect rc 0
call DefineSubs ref subs "target" "replacement"
expect rc 0
number p 0
call ReadRecord ref p
expect a = "1"
expect b = "2"
expect c = "\u{E9}_"
expect p = 14
list badsubs target replacement
row badsubs "\u{E9}" "e"
call DefineSubs ref badsubs "target" "replacement"
expect rc 3
call CloseFile ref

# CSV quoting with apostrophes, and with a backslash escape.
list quoted name size delim
row quoted "a" 40 "COMMA"
row quoted "b" 40 "CRLF"
call OpenFile "csv.csv" ref size 0 "UTF-16LE" "CSV'"
call DefineFormat ref quoted "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "a,\u{2C00}'b"
expect b = "\"c"
expect p = 26
call ReadRecord ref p
expect a = "\\'d'"
expect b = "e"
expect p = 42
call ReadRecord ref p 0 1
expect a = "\\'d'"
expect p = 26
call ReadRecord ref p 0 1
expect a = "a,\u{2C00}'b"
expect p = 0
call CloseFile ref
call OpenFile "csv.csv" ref size 0 "UTF-16LE" "CSV'\\"
call DefineFormat ref quoted "name" "size" "delim"
number p 26
call ReadRecord ref p
expect a = "'d'"
expect p = 42
call CloseFile ref

# The clipboard's Unicode text is a UTF-16 source: little-endian, up to its first zero unit.
@windows clipboard wide "a\x00,\x00\x00,\x0A\x00b\x00,\x00c\x00\x0A\x00\x00\x00z\x00"
@windows call OpenFile "CLIPBOARD" ref size 0 "UTF-16BE"
@windows expect rc 3
@windows expect ref = 0
@windows call OpenFile "CLIPBOARD" ref size 0 "UTF-16"
@windows expect rc 0
@windows expect size = 16
@windows call DefineFormat ref fmt "name" "size" "delim"
@windows number p 0
@windows call ReadRecord ref p
@windows expect a = "a"
@windows expect b = "\u{2C00}"
@windows expect p = 8
@windows call ReadRecord ref p
@windows expect a = "b"
@windows expect b = "c"
@windows expect p = 16
@windows call ReadRecord ref p 0 1
@windows expect a = "b"
@windows expect p = 8
@windows call CloseFile ref

# Enclosing quotes stripped: a piece that opens with a quote ends at a delimiter after one.
file strip.csv "\"\x00a\x00,\x00b\x00\"\x00,\x00c\x00\x0A\x00\"\x00p\x00\"\x00q\x00,\x00r\x00\"\x00,\x00s\x00\x0A\x00"
call OpenFile "strip.csv" ref size 1 "UTF-16LE"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "a,b"
expect b = "c"
expect p = 16
call ReadRecord ref p
expect a = "p\"q,r"
expect b = "s"
expect p = 36
call CloseFile ref

# A fixed length that cuts a surrogate pair, and reads from odd positions.
list cut name size delim
row cut "a" 6 "MAX"
row cut "b" 40 "EOL"
call OpenFile "pair.csv" ref size 0 "UTF-16LE"
call DefineFormat ref cut "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "ab\u{FFFD}"
expect b = "\u{FFFD}c"
expect p = 12
number p 1
call ReadRecord ref p
expect a = "\u{FFFD}b\u{FFFD}\u{FFFD}"
expect b = "\u{FFFD}c"
expect p = 12
call CloseFile ref
call OpenFile "pair.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref fmt "name" "size" "delim"
number p 1
call ReadRecord ref p
expect rc 12
expect a = "\u{FFFD}b\u{1F600}c"
expect b = ""
expect p = 12
call CloseFile ref

# Backwards: a fixed-length last entry marks no record start (the record runs from the
# source's first byte), and a read back from an odd position ends with half a unit.
list tail name size delim
row tail "a" 4 "COMMA"
row tail "b" 4 "MAX"
call OpenFile "plain.csv" ref size 0 "UTF-16LE"
call DefineFormat ref tail "name" "size" "delim"
number p 8
call ReadRecord ref p 0 1
expect rc 0
expect a = "a"
expect b = "b\n"
expect p = 0
call DefineFormat ref fmt "name" "size" "delim"
number p 7
call ReadRecord ref p 0 1
expect rc 9
expect a = "a"
expect b = "b\u{FFFD}"
expect p = 0
call CloseFile ref
# An ASC delimiter of a two-byte UTF-8 character.
list para name size delim
row para "a" 40 "ASC\u{A7}"
row para "b" 40 "EOL"
file para.csv "1\x00\xA7\x002\x00\x0A\x00"
call OpenFile "para.csv" ref size 0 "UTF-16LE"
call DefineFormat ref para "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "1"
expect b = "2"
call CloseFile ref
# A UTF-8 field source shorter than a byte-order mark.
char one "x"
call OpenFile "FIELD:one" ref size 0 "UTF-8"
expect rc 0
expect size = 1
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "x"
call CloseFile ref

# The backward search's last rules over code units, as over bytes: a start that a stray quote
# cut short (a,"b LF), and no start that reads the record (a,b;x;).
list three name size delim
row three "a" 20 "COMMA"
row three "b" 20 "COMMA"
row three "c" 20 "EOL"
file cut16.csv "a\x00,\x00\"\x00b\x00\x0A\x00"
call OpenFile "cut16.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref three "name" "size" "delim"
number q 10
call ReadRecord ref q 0 1
expect rc 14
expect a = "a"
expect b = "\"b"
expect c = ""
expect q = 0
call CloseFile ref
list semi2 name size delim
row semi2 "a" 20 "COMMA"
row semi2 "b" 20 "SEMICO"
file semi16.csv "a\x00,\x00b\x00;\x00x\x00;\x00"
call OpenFile "semi16.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref semi2 "name" "size" "delim"
number q 12
call ReadRecord ref q 0 1
expect rc 9
expect a = "x;"
expect q = 8
call CloseFile ref

# Leading bytes that begin a mark's bytes and are no mark: text like any other (U+FF0C,
# U+FEC0 in UTF-8; U+00FF little-endian, U+FE00 big-endian), and a lone byte under UTF-16.
file u1.csv "\xEF\xBC\x8C,x\n"
file u2.csv "\xEF\xBB\x80,y\n"
file l1.csv "\xFF\x00,\x00z\x00\x0A\x00"
file b1.csv "\xFE\x00\x00,\x00w\x00\x0A"
file one.csv "\xFF"
call OpenFile "u1.csv" ref size 0 "UTF-8"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\u{FF0C}"
expect b = "x"
expect p = 6
call CloseFile ref
call OpenFile "u2.csv" ref size 0 "UTF-8"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\u{FEC0}"
expect p = 6
call CloseFile ref
call OpenFile "l1.csv" ref size 0 "UTF-16"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\xFF"
expect b = "z"
expect p = 8
call CloseFile ref
call OpenFile "b1.csv" ref size 0 "UTF-16BE"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\u{FE00}"
expect b = "w"
expect p = 8
call CloseFile ref
call OpenFile "one.csv" ref size 0 "UTF-16"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "\u{FFFD}"
expect p = 1
call CloseFile ref

# A high surrogate as the last unit, and with a lone byte after it: each U+FFFD. An ASC
# delimiter of an ASCII character and a longer one (a é).
list ae name size delim
row ae "a" 40 "ASCa\u{E9}"
row ae "b" 40 "EOL"
file hs.csv "a\x00=\xD8"
file hs3.csv "a\x00=\xD8\x00"
file ae.csv "x\x00a\x00\xE9\x00y\x00\x0A\x00"
call OpenFile "hs.csv" ref size 0 "UTF-16LE"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "a\u{FFFD}"
expect p = 4
call CloseFile ref
call OpenFile "hs3.csv" ref size 0 "UTF-16LE"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "a\u{FFFD}\u{FFFD}"
expect p = 5
call CloseFile ref
call OpenFile "ae.csv" ref size 0 "UTF-16LE"
call DefineFormat ref ae "name" "size" "delim"
expect rc 0
number p 0
call ReadRecord ref p
expect rc 0
expect a = "x"
expect b = "y"
expect p = 10
call CloseFile ref

# ReadUpTo's count of a character beyond U+FFFF is its pair's four bytes.
file emoji.csv "a\x00=\xD8\x00\xDEb\x00;\x00"
call OpenFile "emoji.csv" ref size 0 "UTF-16LE"
number p 0
number n 0
char data ""
call ReadUpTo ref p 0 ";" 40 data n
expect rc 0
expect data = "a\u{1F600}b"
expect n = 8
expect p = 10
call CloseFile ref

# The same reach in UTF-16: three doubled quotes at a maximum of 6 bytes.
list q6 name size delim
row q6 "a" 6 "CRLF"
file qq16.csv "x\x00\x0D\x00\x0A\x00\"\x00\"\x00\"\x00\"\x00\"\x00\"\x00\"\x00\"\x00\x0D\x00\x0A\x00"
call OpenFile "qq16.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref q6 "name" "size" "delim"
number p 26
call ReadRecord ref p 0 1
expect rc 0
expect a = "\"\"\""
expect p = 6
call CloseFile ref

# Pieces the one-pass read leaves to the character reader, read as it reads them: a CRLF
# or EOL whose CR ends the data or has no LF after it, a text past its maximum before its
# delimiter, a delimiter that is the quote, a stop beyond ASCII (the record rule's separator
# €), and a stop that starts like the delimiter (RETURN before CRLF).
list crlf name size delim
row crlf "a" 40 "CRLF"
list eol name size delim
row eol "a" 40 "EOL"
list short name size delim
row short "a" 4 "COMMA"
row short "b" 40 "EOL"
list dq name size delim
row dq "a" 40 "ASC\""
row dq "b" 40 "EOL"
list euro2 name size delim
row euro2 "a" 40 "ASC\u{20AC}"
row euro2 "b" 40 "EOL"
list ret name size delim
row ret "a" 40 "RETURN"
row ret "b" 40 "CRLF"
file endcr.csv "a\x00b\x00\x0D\x00"
file midcr.csv "a\x00\x0D\x00b\x00\x0A\x00"
file long.csv "a\x00b\x00c\x00,\x00d\x00\x0A\x00"
file dq.csv "x\x00\"\x00y\x00\x0A\x00"
file euro2.csv "x\x00\xAC y\x00\x0A\x00"
file ret.csv "x\x00\x0D\x00y\x00\x0D\x00\x0A\x00"
call OpenFile "endcr.csv" ref size 0 "UTF-16LE"
call DefineFormat ref crlf "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "ab\r"
expect p = 6
call DefineFormat ref eol "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 9
expect a = "ab\r"
expect p = 6
call CloseFile ref
call OpenFile "midcr.csv" ref size 0 "UTF-16LE"
call DefineFormat ref eol "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "a\rb"
expect p = 8
call CloseFile ref
call OpenFile "long.csv" ref size 0 "UTF-16LE"
call DefineFormat ref short "name" "size" "delim"
char b "unset"
number p 0
call ReadRecord ref p
expect rc 11
expect a = "ab"
expect b = "unset"
expect p = 4
call CloseFile ref
call OpenFile "dq.csv" ref size 1 "UTF-16LE"
call DefineFormat ref dq "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "x"
expect b = "y"
expect p = 8
call CloseFile ref
call OpenFile "euro2.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref euro2 "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "x"
expect b = "y"
expect p = 8
call CloseFile ref
call OpenFile "ret.csv" ref size 0 "UTF-16LE" "CSV"
call DefineFormat ref ret "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "x"
expect b = "y"
expect p = 10
call CloseFile ref
