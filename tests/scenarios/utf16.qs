# UTF-16 sources: code units at even positions only, characters for delimiters, terminators
# and quotes, positions and maxima in bytes, U+FFFD for what forms no character.

number ref
number size
number p
number n
char a "unset"
char b "unset"
char c "unset"
char data "unset"
list fmt name size delim
row fmt "a" 40 "COMMA"
row fmt "b" 40 "EOL"
# a U+2C00 U+0100 , b: the bytes of a comma at offset 3
file odd.csv "a\x00\x00,\x00\x01,\x00b\x00\x0A\x00"
# U+0100 U+2C00 , b in big-endian: a comma's bytes at offset 1
file oddbe.csv "\x01\x00,\x00\x00,\x00b\x00\x0A"

load
# The 8-bit host has no characters to decode into: every name answers 3.
@8bit call OpenFile "odd.csv" ref size 0 "UTF-16LE"
@8bit expect rc 3
@8bit expect ref = 0
@8bit call OpenFile "odd.csv" ref size 0 "utf-16"
@8bit expect rc 3
# Names in any case; nothing near them.
@unicode call OpenFile "odd.csv" ref size 0 "UTF16"
@unicode expect rc 3
@unicode call OpenFile "odd.csv" ref size 0 "UTF-16 "
@unicode expect rc 3
@unicode call OpenFile "odd.csv" ref size 0 "utf-16le"
@unicode expect rc 0
@unicode call DefineFormat ref fmt "name" "size" "delim"
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "a\u{2C00}\u{100}"
@unicode expect b = "b"
@unicode expect p = 12
@unicode call ReadRecord ref p 0 1
@unicode expect a = "a\u{2C00}\u{100}"
@unicode expect p = 0
# ReadUpTo looks for its terminator as a character; its count is the text's bytes.
@unicode call ReadUpTo ref p 0 "," 40 data n
@unicode expect rc 0
@unicode expect data = "a\u{2C00}\u{100}"
@unicode expect n = 6
@unicode expect p = 8
# ReadBytes reads bytes: half a unit, at the count's end or from an odd position, is U+FFFD.
@unicode number p 0
@unicode call ReadBytes ref p 0 3 data n
@unicode expect data = "a\u{FFFD}"
@unicode expect n = 3
@unicode expect p = 3
@unicode call ReadBytes ref p 0 2 data n
@unicode expect data = "\u{FFFD}\u{FFFD}"
@unicode expect p = 5
@unicode call CloseFile ref
# A fixed length counts bytes too; the read after it starts where it ended.
@unicode list fixed name size delim
@unicode row fixed "a" 3 "MAX"
@unicode row fixed "b" 40 "EOL"
@unicode call OpenFile "odd.csv" ref size 0 "UTF-16LE"
@unicode call DefineFormat ref fixed "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect a = "a\u{FFFD}"
@unicode expect b = "\u{FFFD}\u{100},b"
@unicode expect p = 12
@unicode call CloseFile ref
@unicode call OpenFile "oddbe.csv" ref size 0 "UTF-16BE"
@unicode call DefineFormat ref fmt "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect a = "\u{100}\u{2C00}"
@unicode expect b = "b"
@unicode expect p = 10
@unicode call CloseFile ref
# A field's text is characters already: no UTF-16 describes it.
@unicode char src "a,b\n"
@unicode call OpenFile "FIELD:src" ref size 0 "UTF-16"
@unicode expect rc 3
@unicode expect ref = 0
# A record's usual pieces stored as their code units, in either byte order and either rule,
# forwards and backwards, beside the pieces they leave to the character reader: blanks to
# trim at either end, an empty piece, a surrogate pair.
@unicode list units name size delim
@unicode row units "a" 40 "COMMA"
@unicode row units "b" 40 "COMMA"
@unicode row units "c" 40 "COMMA"
@unicode row units "d" 40 "CRLF"
@unicode char d "unset"
file units.csv "\xDC\x00n\x00\xEF\x00c\x00\xF6\x00d\x00\xE9\x00-\x00S\x00t\x00r\x00a\x00\xDF\x00e\x00-\x001\x002\x00,\x00 \x00p\x00a\x00d\x00 \x00,\x00,\x00=\xD8\x00\xDEe\x00n\x00d\x00\x0D\x00\x0A\x00x\x00,\x00y\x00 \x00,\x00,\x00z\x00\x0D\x00\x0A\x00"
file unitsbe.csv "\x00\xDC\x00n\x00\xEF\x00c\x00\xF6\x00d\x00\xE9\x00-\x00S\x00t\x00r\x00a\x00\xDF\x00e\x00-\x001\x002\x00,\x00 \x00p\x00a\x00d\x00 \x00,\x00,\xD8=\xDE\x00\x00e\x00n\x00d\x00\x0D\x00\x0A\x00x\x00,\x00y\x00 \x00,\x00,\x00z\x00\x0D\x00\x0A"
@unicode call OpenFile "units.csv" ref size 0 "UTF-16LE"
@unicode call DefineFormat ref units "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 64
@unicode call ReadRecord ref p
@unicode expect a = "x"
@unicode expect b = "y"
@unicode expect c = ""
@unicode expect d = "z"
@unicode expect p = 82
@unicode call ReadRecord ref p 0 1
@unicode expect rc 0
@unicode expect a = "x"
@unicode expect d = "z"
@unicode expect p = 64
@unicode call ReadRecord ref p 0 1
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 0
@unicode call CloseFile ref
@unicode call OpenFile "unitsbe.csv" ref size 0 "UTF-16BE"
@unicode call DefineFormat ref units "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 64
@unicode call ReadRecord ref p
@unicode expect a = "x"
@unicode expect b = "y"
@unicode expect c = ""
@unicode expect d = "z"
@unicode expect p = 82
@unicode call ReadRecord ref p 0 1
@unicode expect rc 0
@unicode expect a = "x"
@unicode expect d = "z"
@unicode expect p = 64
@unicode call ReadRecord ref p 0 1
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 0
@unicode call CloseFile ref
@unicode call OpenFile "units.csv" ref size 0 "UTF-16LE" "CSV"
@unicode call DefineFormat ref units "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 64
@unicode call ReadRecord ref p
@unicode expect a = "x"
@unicode expect b = "y"
@unicode expect c = ""
@unicode expect d = "z"
@unicode expect p = 82
@unicode call ReadRecord ref p 0 1
@unicode expect rc 0
@unicode expect a = "x"
@unicode expect d = "z"
@unicode expect p = 64
@unicode call ReadRecord ref p 0 1
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 0
@unicode call CloseFile ref
@unicode call OpenFile "unitsbe.csv" ref size 0 "UTF-16BE" "CSV"
@unicode call DefineFormat ref units "name" "size" "delim"
@unicode number p 0
@unicode call ReadRecord ref p
@unicode expect rc 0
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 64
@unicode call ReadRecord ref p
@unicode expect a = "x"
@unicode expect b = "y"
@unicode expect c = ""
@unicode expect d = "z"
@unicode expect p = 82
@unicode call ReadRecord ref p 0 1
@unicode expect rc 0
@unicode expect a = "x"
@unicode expect d = "z"
@unicode expect p = 64
@unicode call ReadRecord ref p 0 1
@unicode expect a = "\u{DC}n\u{EF}c\u{F6}d\u{E9}-Stra\u{DF}e-12"
@unicode expect b = "pad"
@unicode expect c = ""
@unicode expect d = "\u{1F600}end"
@unicode expect p = 0
@unicode call CloseFile ref
