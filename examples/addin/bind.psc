// Binds the add-in file: a copy of the memory image (0x200 zero bytes, then the code
// linked at 0x00300200) with the header filled in. The header's first 0x20 bytes are
// stored complemented, every bit inverted.
SOURCEFILE=$(OUTDIR)/$(NAME).BIN
TARGETFILE=$(OUTDIR)/$(NAME).G1A
// "USBPower", file type F3 (an add-in), 00 10 00 10 00, each byte complemented.
GOTO=0
INSERTLIST=$AA,$AC,$BD,$AF,$90,$88,$9A,$8D,$0C,$FF,$EF,$FF,$EF,$FF
// 0x0F: 01; 0x10: the file size, most significant byte first; 0x15-0x1F: zero.
GOTO=$0F
INSERTLIST=$FE
INVERT=TRUE
INSERTFILESIZE=
INVERT=FALSE
GOTO=$15
INSERTCHAR=$FF,11
// 0x0E and 0x14: the low byte of the size (0x13) plus 0x41 and plus 0xB8. Complemented,
// that is the complemented byte minus 0x41 and minus 0xB8.
GOTO=$13
COPY=1
GOTO=$0E
ADJUSTMENT=-$41
PASTE=
GOTO=$14
ADJUSTMENT=-$B8
PASTE=
ADJUSTMENT=0
// 0x16: the checksum over the code (g1a-checksum, already complemented).
GOTO=$16
INSERTFILE=$(OUTDIR)/HEADSUM.BIN
// The add-in's own fields: internal name, version, build date, menu icon, title and the
// file size again, plain.
GOTO=$20
INSERTSTRING=@$(NAME)
GOTO=$30
INSERTSTRING=$(VERSION)
GOTO=$3C
INSERTTIME=yyyy.mmdd.hhnn
GOTO=$4C
INSERTFILE=$(OUTDIR)/MENUICON.BIN
GOTO=$1D4
INSERTSTRING=$(NAME)
GOTO=$1F0
INSERTFILESIZE=
