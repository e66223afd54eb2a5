# Design information: the labels of a command's parameter and return-code lines, taken from
# the library's command table. Needs no load.

design About 5
expect label "Parms: ()" 9
expect usedefault 0
design ReadRecord 5
expect label "Parms: (fileRef, position, strip? [,backwards?])" 48
design OpenFile 5
expect label "Parms: (path,fileRefField [,fileSizeField [,stripEnclosingQuotes [,encoding [,quoting CSV|CSV'|CSV\\]]]])" 104
design CloseFile 5
expect label "Parms: (fileRef)" 16
design DefineFormat 5
expect label "Parms: (fileRef,list,'fldNameListFld','maxSizeListFld','delimListFld')" 70
design ReadUpTo 5
expect label "Parms: (fileRef,position,strip?,termChar,maxLength,dataField [,bytesReadField])" 79

# The return-code line is the same for every command.
design ReadBytes 6
expect label "Return Code :" 13
expect usedefault 0
design #9 6
expect label "Return Code :" 13

# Other items leave the record exactly as the host filled it.
design About 7
expect design untouched
design OpenFile 0
expect design untouched

# A command with no text in the table gets the bare prefix.
design #0 5
expect label "Parms: " 7
design #99 5
expect label "Parms: " 7

# Loaded or not makes no difference, and nothing is written to fields.
load
design DefineSubs 5
expect label "Parms: (fileRef,list,targetCharListFld,replacementCharListFld)" 62
expect writes 0
unload
