# One-byte code pages named in OpenFile's fifth parameter: the Unicode builds decode each by
# its table (bytes a page leaves undefined become U+FFFD); the 8-bit build knows no name.

only unicode
number ref
number size
number p
number n
char a "unset"
char b "unset"
char c "unset"
char data "unset"
list fmt name size delim
row fmt "a" 40 "SEMICO"
row fmt "b" 40 "EOL"
# Café;3 € ; “quoted” – … ; then the bytes Windows-1252 leaves undefined.
file w.csv "Caf\xE9;3\x80\r\n\x93q\x94 \x96;\x85\x81\x8D\x8F\x90\x9D\r\n"
# Mac Roman: Zürich;Æ€ﬁ and the Apple mark.
file m.csv "Z\x9Frich;\xAE\xDB\xDE\xF0\n"
# ISO-8859-15 against ISO-8859-1: the euro and Œ are where ¤ and ¼ were.
file l.csv "\xA4;\xBC\xE9\n"

load
# Names match in any case; anything else opens nothing.
call OpenFile "w.csv" ref size 0 "Windows-1252 "
expect rc 3
expect ref = 0
call OpenFile "w.csv" ref size 0 "cp1251"
expect rc 3
call OpenFile "w.csv" ref size 0 "WINDOWS-1252"
expect rc 0
call DefineFormat ref fmt "name" "size" "delim"
call ReadRecord ref p
expect rc 0
expect a = "Caf\u{E9}"
expect b = "3\u{20AC}"
call ReadRecord ref p
expect a = "\u{201C}q\u{201D} \u{2013}"
expect b = "\u{2026}\u{FFFD}\u{FFFD}\u{FFFD}\u{FFFD}\u{FFFD}"
expect p = 23
# Backwards, the same records.
call ReadRecord ref p 0 1
expect a = "\u{201C}q\u{201D} \u{2013}"
expect p = 9
call ReadRecord ref p 0 1
expect b = "3\u{20AC}"
expect p = 0
# ReadUpTo's terminator and ReadBytes in the page: the euro is the byte 0x80.
call ReadUpTo ref p 0 "\u{20AC}" 40 data n
expect rc 0
expect data = "Caf\u{E9};3"
expect p = 7
call ReadBytes ref p 0 4 data n
expect data = "\r\n\u{201C}q"
# A terminator the page cannot write could never match: 3, nothing read.
number p 0
call ReadUpTo ref p 0 "\u{4E2D}" 40 data n
expect rc 3
expect p = 0
# Nor can one of four characters; an empty one reads up to the maximum.
call ReadUpTo ref p 0 "\u{20AC}\u{20AC}\u{20AC}\u{20AC}" 40 data n
expect rc 3
call ReadUpTo ref p 0 "" 4 data n
expect rc 0
expect data = "Caf\u{E9}"
expect p = 4
call CloseFile ref

# An ASC delimiter and a substitution name the page's characters.
list euro name size delim
row euro "a" 40 "ASC\u{20AC}"
row euro "b" 40 "EOL"
list subs target replacement
row subs "\u{2013}" "-"
call OpenFile "w.csv" ref size 0 "cp1252"
call DefineFormat ref euro "name" "size" "delim"
expect rc 0
call DefineSubs ref subs "target" "replacement"
expect rc 0
number p 0
call ReadRecord ref p
expect a = "Caf\u{E9};3"
expect b = ""
call ReadUpTo ref p 0 "\n" 40 data n
expect data = "\u{201C}q\u{201D} -;\u{2026}\u{FFFD}\u{FFFD}\u{FFFD}\u{FFFD}\u{FFFD}\r"
# Characters the page cannot write: the format and the pairs are refused.
list han name size delim
row han "a" 40 "ASC\u{4E2D}"
call DefineFormat ref han "name" "size" "delim"
expect rc 3
# Up to 3 characters: the page writes each in one byte.
list four name size delim
row four "a" 40 "ASC\u{20AC}\u{20AC}\u{20AC}\u{20AC}"
call DefineFormat ref four "name" "size" "delim"
expect rc 3
list three name size delim
row three "a" 40 "ASC;3\u{20AC}"
row three "b" 40 "EOL"
call DefineFormat ref three "name" "size" "delim"
expect rc 0
number p 0
call ReadRecord ref p
expect a = "Caf\u{E9}"
expect b = ""
expect p = 9
list badsubs target replacement
row badsubs "x" "\u{4E2D}"
call DefineSubs ref badsubs "target" "replacement"
expect rc 3
call CloseFile ref

# Values of every length, read in place and through the buffer, decode alike: a long one
# (beyond 32 bytes), one of 16 to 31, a short one, and a last one at the file's very end
# (which, without CSV quoting, leaves the entry after it as it was).
file long.csv "\x80bcdefghijklmnopqrstuvwxyz0123456789\x80;abcdefghijklmnopq\x93r\x94;\x85\n  \x80aaaaaaaaaaaaaaaa\x80bbbbbbbbbbbbbbbbbbbb\x80  ;x;y\n \x96x\x96 ;\x80"
list three2 name size delim
row three2 "a" 100 "SEMICO"
row three2 "b" 100 "SEMICO"
row three2 "c" 100 "EOL"
call OpenFile "long.csv" ref size 0 "Windows-1252"
call DefineFormat ref three2 "name" "size" "delim"
number p 0
call ReadRecord ref p
expect rc 0
expect a = "\u{20AC}bcdefghijklmnopqrstuvwxyz0123456789\u{20AC}"
expect b = "abcdefghijklmnopq\u{201C}r\u{201D}"
expect c = "\u{2026}"
# Trimmed, through the buffer.
call ReadRecord ref p 1
expect rc 0
expect a = "\u{20AC}aaaaaaaaaaaaaaaa\u{20AC}bbbbbbbbbbbbbbbbbbbb\u{20AC}"
expect c = "y"
call ReadRecord ref p 1
expect rc 9
expect a = "\u{2013}x\u{2013}"
expect b = "\u{20AC}"
expect c = "y"
call CloseFile ref

call OpenFile "m.csv" ref size 0 "Mac Roman"
expect rc 0
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "Z\u{FC}rich"
expect b = "\u{C6}\u{20AC}\u{FB01}\u{F8FF}"
call CloseFile ref
call OpenFile "m.csv" ref size 0 "macintosh"
expect rc 0
call CloseFile ref

call OpenFile "l.csv" ref size 0 "iso-8859-15"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "\u{20AC}"
expect b = "\u{152}\u{E9}"
call CloseFile ref
call OpenFile "l.csv" ref size 0 "Latin-1"
call DefineFormat ref fmt "name" "size" "delim"
number p 0
call ReadRecord ref p
expect a = "\u{A4}"
expect b = "\u{BC}\u{E9}"
call CloseFile ref

# A field's text is characters already: no code page describes it.
char src "Caf\u{E9};3\u{20AC}\n"
call OpenFile "FIELD:src" ref size 0 "Windows-1252"
expect rc 3
expect ref = 0
call OpenFile "FIELD:src" ref size 0 "ISO-8859-1"
expect rc 3
call OpenFile "FIELD:src" ref size 0 "utf-8"
expect rc 0
call CloseFile ref

# The clipboard holds bytes: a code page decodes them there as in a file.
@windows clipboard "Caf\xE9;3\x80\n"
@windows call OpenFile "CLIPBOARD" ref size 0 "Windows-1252"
@windows expect rc 0
@windows call DefineFormat ref fmt "name" "size" "delim"
@windows number p 0
@windows call ReadRecord ref p
@windows expect b = "3\u{20AC}"
@windows call CloseFile ref
