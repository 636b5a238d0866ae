// Binds the library into the add-in file: the library's bytes, a name tag, and a
// checksum over everything before it, most significant byte first.
SOURCEFILE=$(LIBDIR)/$(LIBRARY).LIB
TARGETFILE=$(OUTDIR)/ADDIN.BIN
GOTO=FILESIZE
INSERTSTRING=$(LIBRARY) $(VERSION)
CHKSUM_INIT=0
ADJUSTMENT=-1
CHKSUM_CALC=0,FILESIZE
ADJUSTMENT=0
CHKSUM_SAVE=FILESIZE
