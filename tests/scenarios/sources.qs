# Field text beyond ASCII, and the clipboard where the build has one.

number ref
number size
char data
char accented "caf\u{E9},x"
number n

load
# Unicode hosts hand the library UTF-8: the size counts its bytes, and every byte is read.
call OpenFile "FIELD:accented" ref size
expect rc 0
@unicode expect size = 7
@8bit expect size = 6
number p 0
call ReadUpTo ref p 0 "," 10 data n
expect rc 0
@unicode expect data = "caf\xC3\xA9"
@8bit expect data = "caf\u{E9}"
call ReadUpTo ref p 0 "," 10 data
expect rc 9
expect data = "x"
call CloseFile ref

# The clipboard: a snapshot of its text, reference 1, on Windows; refused on macOS.
clipboard "one,two\r\n"
number cref
call OpenFile "CLIPBOARD" cref size
@mac expect rc 3
@mac expect cref = 0
@windows expect rc 0
@windows expect cref = 1
@windows expect size = 9
clipboard "changed"
@windows number cp 0
@windows call ReadUpTo 1 cp 0 "," 10 data
@windows expect data = "one"
# Two clipboard sources share reference 1; commands reach the first until it is closed.
clipboard "second"
number cref2
call OpenFile "CLIPBOARD" cref2 size
@windows expect cref2 = 1
@windows number cq 0
@windows call ReadBytes 1 cq 0 3 data
@windows expect data = "one"
@windows call CloseFile 1
@windows expect rc 0
@windows number cr 0
@windows call ReadBytes 1 cr 0 3 data
@windows expect data = "sec"
# No text on the clipboard: 3.
clipboard none
call OpenFile "CLIPBOARD" cref size
expect rc 3
expect cref = 0
unload
