/* The command table: string id and text of each command (id 1272 + command number), then
   the group entry. One list for the Windows string table, the stand-ins' resource tables
   and the macOS string list. X(id, text) */
#ifndef QUILLOMAR_COMMAND_STRINGS_H
#define QUILLOMAR_COMMAND_STRINGS_H

// The resource compiler takes each text as one literal, whatever its length.
// clang-format off
#define QM_COMMAND_STRINGS(X)                                                                      \
  X(1273, "Quillomar.About():1273008")                                                             \
  X(1274, "Quillomar.CloseFile(fileRef):1273007")                                                  \
  X(1275, "Quillomar.ReadBytes(fileRef,position,strip?,count,dataField [,bytesReadField]):1273006") \
  X(1276, "Quillomar.ReadUpTo(fileRef,position,strip?,termChar,maxLength,dataField [,bytesReadField]):1273005") \
  X(1277, "Quillomar.ReadRecord(fileRef, position, strip? [,backwards?]):1273004")                 \
  X(1278, "Quillomar.DefineSubs(fileRef,list,targetCharListFld,replacementCharListFld):1273003")   \
  X(1279, "Quillomar.DefineFormat(fileRef,list,'fldNameListFld','maxSizeListFld','delimListFld'):1273002") \
  X(1280, "Quillomar.OpenFile(path,fileRefField [,fileSizeField [,stripEnclosingQuotes [,encoding [,quoting CSV|CSV'|CSV\\]]]]):1273001") \
  X(1281, "*Quillomar")
// clang-format on

#endif
