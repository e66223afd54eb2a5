# A file of 4 GiB and 9 bytes, all of it a sparse hole but its last 13 bytes: records across
# 2^32, read at exact positions by the Windows builds; the File Manager's 32-bit positions
# make the macOS build answer 5.

number ref
number size
number p
number q
number n
char a "unset"
char b "unset"
char data "unset"
list fmt name size delim
row fmt "a" 10 "COMMA"
row fmt "b" 10 "LF"
file big.txt "\nab,cd\nef,gh\n" at 4294967292

load
call OpenFile "big.txt" ref size
@mac expect rc 5
@mac expect size = 0
@!mac expect rc 0
@!mac expect size = 4294967305
@!mac call DefineFormat ref fmt "name" "size" "delim"
# Forwards: a record across 2^32, then the last one, then the end.
@!mac number p 4294967293
@!mac call ReadRecord ref p
@!mac expect rc 0
@!mac expect a = "ab"
@!mac expect b = "cd"
@!mac expect p = 4294967299
@!mac call ReadRecord ref p
@!mac expect a = "ef"
@!mac expect p = 4294967305
@!mac call ReadRecord ref p
@!mac expect rc 7
# Backwards from the end, then across 2^32; before it only the hole: no record start (11).
@!mac number q 4294967305
@!mac call ReadRecord ref q 0 1
@!mac expect rc 0
@!mac expect b = "gh"
@!mac expect q = 4294967299
@!mac call ReadRecord ref q 0 1
@!mac expect a = "ab"
@!mac expect q = 4294967293
@!mac call ReadRecord ref q 0 1
@!mac expect rc 11
@!mac expect q = 4294967293
# ReadBytes and ReadUpTo across 2^32.
@!mac number p 4294967294
@!mac call ReadBytes ref p 0 4 data n
@!mac expect data = "b,cd"
@!mac expect n = 4
@!mac expect p = 4294967298
@!mac number p 4294967293
@!mac call ReadUpTo ref p 0 "," 10 data
@!mac expect data = "ab"
@!mac expect p = 4294967296
# At the end, at 2^53 and beyond, or negative: 7, nothing read or written back.
@!mac number p 9007199254740992
@!mac call ReadBytes ref p 0 4 data
@!mac expect rc 7
@!mac expect p = 9007199254740992
@!mac number p 18014398509481984
@!mac call ReadRecord ref p
@!mac expect rc 7
@!mac number p -1
@!mac call ReadRecord ref p
@!mac expect rc 7
call CloseFile ref
expect rc 0
