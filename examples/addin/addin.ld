/* The add-in as the calculator runs it. The calculator maps the add-in file at 0x00300000
   and jumps to 0x00300200, the first byte after the file's 0x200-byte header; the header
   room is linked as zero bytes that the bind step fills in, so the memory image is the file.
   Static data lives in the add-in's RAM at 0x08100000: its initial values follow the code
   in the file and Addin_Start copies them there. */
OUTPUT_FORMAT("elf32-shbig-linux")
OUTPUT_ARCH(sh)
ENTRY(Addin_Start)
EXTERN(Addin_Start)

MEMORY
{
  file (rx) : ORIGIN = 0x00300000, LENGTH = 512K
  ram (rw)  : ORIGIN = 0x08100000, LENGTH = 8K
}

SECTIONS
{
  .header : { BYTE(0); . = 0x200; } > file
  .text : { KEEP(*(.text.start)) *(.text .text.*) } > file
  .rodata : { *(.rodata .rodata.*) } > file
  .data : { addin_data_start = .; *(.data .data.*) addin_data_end = .; } > ram AT > file
  addin_data_load = LOADADDR(.data);
  .bss (NOLOAD) : { addin_bss_start = .; *(.bss .bss.*) *(COMMON) addin_bss_end = .; } > ram
  /DISCARD/ : { *(.comment) *(.note .note.*) *(.eh_frame) }
}
