// Example bugfix for a flash image of OS 02.00.0000 (4 MiB), such as
//   ostrel-imagegen -o OS200.bin --size 0x400000
// Run it in the image's folder:
//   ostrel bugfix /path/to/examples/patch/os_fix.psc
// It leaves OS200.bin as it is and writes the fixed image OS200_fixed.bin, a preview of
// the fix's screen (fix_screen.bmp), an assembler listing of the patched routine
// (routine.src) and the saved OS header as script lines (header.lst). The OS checksum
// is stored anew, so the fixed image passes "ostrel check OS200_fixed.bin".
SOURCEFILE=OS200.bin
TARGETFILE=OS200_fixed.bin
VARIABLES=FIX,ROUTINE,TABLE,SCREEN
FIX=2
ROUTINE=$A0080020
TABLE=$A0081000
SCREEN=$A0260000

// Only the image this fix is made for.
CHECKSTRING=$10000,CASIOWIN
CHECKSTRING=$10020,02.00.0000

// From here on, positions are flash addresses: the image starts at A0000000.
CODEOFFSET=$A0000000

// The routine returns 1 at once: mov #1,r0 / rts / nop.
GOTO=$(ROUTINE)
INSERTLIST=$E0,$01,$00,$0B,$00,$09
CHECKLIST=$(ROUTINE),$E0,$01,$00,$0B,$00,$09
GOTO=$(ROUTINE)
MAKECSOURCE=routine.src,$(ROUTINE),16

// The second entry of the jump table takes the first entry's target.
GOTO=$(TABLE)
COPY=4
PASTE
// The third entry is retired: erased flash reads FF.
INSERTCHAR=$FF,4

// A copy of the OS header (signature and version) behind the jump table, also kept as
// script lines in header.lst.
INSERTFILE=OS200.bin,$30,$10000,header.lst

// The fix's marks in the free space before the OS date: a text and the build time.
GOTO=$A024FF00
INSERTSTRING="Fix $(FIX) by Ostrel"
INSERTTIME="built "yyyy/mm/dd hh:nn

// The fix's screen: a cleared 128x64 display image with three lines of text.
GOTO=$(SCREEN)
INSERTCHAR=0,1024
DISPLAYADDR=$(SCREEN)
PRINTSTRING=30,8,OS 02.00.0000
PRINTSTRING=30,24,Fix $(FIX) applied
PRINTSTRING=10,48,Ostrel Maintenance
TESTBITMAP=fix_screen.bmp
// The image's size, most significant byte first, behind the screen.
INSERTFILESIZE

// The OS checksum: the byte sum from A0010000 up to the stored sum at A024FFF8.
CHKSUM_INIT=0
CHKSUM_CALC=$A0010000,$A024FFF7
CHKSUM_SAVE=$A024FFF8
