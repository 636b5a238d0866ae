/* The calculator program: loaded and started at 0x88024000, at most 10240 bytes; its
 * variables and stack stay below the staging area at 0x88030000. */
OUTPUT_FORMAT("elf32-shbig-linux")
OUTPUT_ARCH(sh)
ENTRY(_start)

SECTIONS
{
  . = 0x88024000;
  .text : {
    KEEP(*(.text.start))
    *(.text .text.*)
    *(.rodata .rodata.*)
    *(.data .data.*)
    . = ALIGN(4);
    image_end = .;
  }
  .bss (NOLOAD) : {
    bss_start = .;
    *(.bss .bss.* COMMON)
    . = ALIGN(4);
    bss_stop = .;
  }
  stack_end = 0x88030000;
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) }
}
ASSERT(image_end <= 0x88026800, "the program is larger than 10240 bytes")
ASSERT(bss_stop <= 0x8802E000, "variables leave less than 8 KiB of stack")
