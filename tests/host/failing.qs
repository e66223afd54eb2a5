# A scenario whose expectation fails: the host must say where, and what it found.
load
call CloseFile 0
expect rc 0
