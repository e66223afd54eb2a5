# UTF-8 sources: an opt-in fifth OpenFile parameter. The Unicode builds decode; the 8-bit
# build refuses any encoding; without the parameter nothing changes.

number ref
number size
number p
number n
char a "unset"
char b "unset"
char data "unset"
list fmt name size delim
row fmt "a" 40 "COMMA"
row fmt "b" 40 "CRLF"
# One to four bytes a character: Zürich, Ελλάδα, 中文, 😀.
file names.txt "Z\xC3\xBCrich,\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1\r\n\xE4\xB8\xAD\xE6\x96\x87,\xF0\x9F\x98\x80\r\n"

load
# Unknown encodings open nothing, on every build; the 8-bit build knows none.
call OpenFile "names.txt" ref size 0 "latin-1"
@8bit expect rc 3
@8bit expect ref = 0
@unicode expect rc 0
@unicode call CloseFile ref
call OpenFile "names.txt" ref size 0 "UTF8"
expect rc 3
call OpenFile "names.txt" ref size 0 "UTF-8"
@8bit expect rc 3
@8bit expect ref = 0

# Everything below is for the builds that decode.
@unicode expect rc 0
@unicode expect size = 35
@unicode call DefineFormat ref fmt "name" "size" "delim"
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "Z\u{FC}rich"
@unicode expect b = "\u{395}\u{3BB}\u{3BB}\u{3AC}\u{3B4}\u{3B1}"
@unicode expect p = 22
@unicode call ReadRecord ref p
@unicode expect a = "\u{4E2D}\u{6587}"
@unicode expect b = "\u{1F600}"
@unicode expect p = 35
# Backwards, the same records.
@unicode number q 35
@unicode call ReadRecord ref q 0 1
@unicode expect rc 0
@unicode expect b = "\u{1F600}"
@unicode expect q = 22
@unicode call ReadRecord ref q 0 1
@unicode expect a = "Z\u{FC}rich"
@unicode expect q = 0
# ReadBytes counts bytes; the count written back is bytes too.
@unicode number r 0
@unicode call ReadBytes ref r 0 7 data n
@unicode expect data = "Z\u{FC}rich"
@unicode expect n = 7
# A terminator beyond ASCII is looked for as its UTF-8; one of more than 3 bytes is refused.
@unicode number t 0
@unicode call ReadUpTo ref t 0 "\u{3BB}" 100 data n
@unicode expect rc 0
@unicode expect data = "Z\u{FC}rich,\u{395}"
@unicode expect t = 12
@unicode call ReadUpTo ref t 0 "\u{3BB}\u{3BB}" 100 data n
@unicode expect rc 3
@unicode call ReadUpTo ref t 0 "\u{1F600}" 100 data n
@unicode expect rc 3
# So is an ASC delimiter: two Greek letters take 4 bytes, and the format is refused.
list wide name size delim
row wide "a" 40 "ASC\u{3BB}\u{3BB}"
@unicode call DefineFormat ref wide "name" "size" "delim"
@unicode expect rc 3
# A cut by the maximum ends on a whole character: 4 bytes would split the second character,
# so the piece keeps the first alone and the next read begins with the second.
@unicode number c 22
@unicode call ReadUpTo ref c 0 "," 4 data n
@unicode expect rc 11
@unicode expect data = "\u{4E2D}"
@unicode expect c = 25
@unicode call ReadUpTo ref c 0 "," 4 data n
@unicode expect rc 0
@unicode expect data = "\u{6587}"
# Substitutions act on bytes: a pair beyond ASCII could never match.
@unicode list subs t r
@unicode row subs "\u{FC}" "u"
@unicode call DefineSubs ref subs "t" "r"
@unicode expect rc 3
@unicode call CloseFile ref

# Malformed and cut sequences: U+FFFD per maximal subpart, nothing dropped. A lone
# continuation byte, an overlong form, a surrogate, a value above U+10FFFF, a sequence cut by
# another byte, and one cut by the end.
@unicode file bad.txt "a\x80b\xC0\xAFc\xED\xA0\x80d\xF4\x90\x80\x80e\xE2\x82f\xF0\x9F\x98"
@unicode call OpenFile "bad.txt" ref size 0 "utf-8"
@unicode expect rc 0
@unicode number z 0
@unicode call ReadBytes ref z 0 100 data n
@unicode expect rc 8
@unicode expect data = "a\u{FFFD}b\u{FFFD}\u{FFFD}c\u{FFFD}\u{FFFD}\u{FFFD}d\u{FFFD}\u{FFFD}\u{FFFD}\u{FFFD}e\u{FFFD}f\u{FFFD}"
@unicode expect n = 21
@unicode call CloseFile ref

# A byte-order mark is no field's; positions count it.
file bom.txt "\xEF\xBB\xBFx,\xC3\xA9\r\ny,z\r\n"
@unicode call OpenFile "bom.txt" ref size 0 "UTF-8"
@unicode expect size = 14
@unicode call DefineFormat ref fmt "name" "size" "delim"
@unicode number m 0
@unicode call ReadRecord ref m
@unicode expect a = "x"
@unicode expect b = "\u{E9}"
@unicode expect m = 9
@unicode number k 14
@unicode call ReadRecord ref k 0 1
@unicode expect a = "y"
@unicode expect k = 9
@unicode call ReadRecord ref k 0 1
@unicode expect rc 0
@unicode expect a = "x"
@unicode expect k = 0
@unicode call ReadRecord ref k 0 1
@unicode expect rc 7
@unicode call CloseFile ref

# Without the parameter the bytes stand as they are, the mark included.
call OpenFile "bom.txt" ref size
call DefineFormat ref fmt "name" "size" "delim"
number u 0
call ReadRecord ref u
expect a = "\u{EF}\u{BB}\u{BF}x"
expect b = "\u{C3}\u{A9}"

# A field's own characters come back unchanged from a field source read as UTF-8, and the
# clipboard's UTF-8 decodes the same way.
@unicode char v "Z\u{FC}rich,\u{1F600}\r\n"
@unicode call OpenFile "FIELD:v" ref size 0 "UTF-8"
@unicode expect rc 0
@unicode call DefineFormat ref fmt "name" "size" "delim"
@unicode number w 0
@unicode call ReadRecord ref w
@unicode expect a = "Z\u{FC}rich"
@unicode expect b = "\u{1F600}"
@windows @unicode clipboard "\u{4E2D}\u{6587},\u{E9}\r\n"
@windows @unicode call OpenFile "CLIPBOARD" n size 0 "utf-8"
@windows @unicode expect rc 0
@windows @unicode call DefineFormat n fmt "name" "size" "delim"
@windows @unicode number cl 0
@windows @unicode call ReadRecord n cl
@windows @unicode expect a = "\u{4E2D}\u{6587}"
@windows @unicode expect b = "\u{E9}"

# The encoding's name: empty is bytes as they stand; a near miss is refused.
@unicode call CloseFile ref
call OpenFile "bom.txt" n size 0 ""
expect rc 0
call CloseFile n
call OpenFile "bom.txt" n size 0 "UTF-9"
expect rc 3
# Sources too short for a mark, a field source that starts with U+FEFF, a terminator of four
# characters, and a cut before a byte that cannot continue the character: no move back.
@unicode file two.txt "ab"
@unicode call OpenFile "two.txt" n size 0 "UTF-8"
@unicode expect rc 0
@unicode call CloseFile n
@unicode char marked "\u{FEFF}x,y\r\n"
@unicode call OpenFile "FIELD:marked" n size 0 "UTF-8"
@unicode call DefineFormat n fmt "name" "size" "delim"
@unicode number fm 0
@unicode call ReadRecord n fm
@unicode expect a = "x"
@unicode expect fm = 8
@unicode number tt 0
@unicode call ReadUpTo n tt 0 "abcd" 10 data
@unicode expect rc 3
@unicode call CloseFile n
@unicode file cut.txt "ab\xE0\x80c,"
@unicode call OpenFile "cut.txt" n size 0 "UTF-8"
@unicode number ct 0
@unicode call ReadUpTo n ct 0 "," 3 data
@unicode expect rc 11
@unicode expect data = "ab\u{FFFD}"
@unicode expect ct = 3
