/* Entry of the calculator program. The loader starts the image at its first byte; the
 * header words at offsets 32 to 47 sit behind a branch. Register use and instructions:
 * SH-3 subset only (the image runs on SH-3 and SH-4A units). */

	.section .text.start, "ax"
	.global _start
_start:
	bra	entry
	nop
	.ascii	"Ostrel recovery program "	/* offsets 4 to 27 */
	.long	0				/* offset 28 */
	.global	calc_run_parameter
calc_run_parameter:
	.long	0xFFFFFFFF			/* offset 32: the PC's run parameter */
	.long	0x88024000			/* offset 36: load address */
	.long	0x88024000			/* offset 40: start address */
	.long	image_end - _start		/* offset 44: bytes of code and data */

entry:
	mov	r15, r4				/* the caller's stack */
	sts	pr, r5				/* the caller's return address */
	mov.l	stack_top, r15
	/* Interrupts stay masked for the whole run (IMASK = 15): the program polls, and the
	 * system's handlers live in the flash it rewrites. */
	stc	sr, r0
	or	#0xF0, r0
	ldc	r0, sr
	mov.l	bss_begin, r1
	mov.l	bss_end, r2
	mov	#0, r0
1:	cmp/hs	r2, r1
	bt	2f
	mov.l	r0, @r1
	bra	1b
	add	#4, r1
2:	mov.l	main_address, r0
	jsr	@r0
	nop
3:	bra	3b
	nop

/* calc_restart(): starts the boot code at the reset vector with the status register's
 * reset value (MD = 1, RB = 1, BL = 1, IMASK = 15). r8 is not banked, so it survives the
 * bank switch. */
	.global	calc_restart
calc_restart:
	mov.l	reset_vector, r8
	mov.l	reset_sr, r0
	ldc	r0, sr
	jmp	@r8
	nop

	.align	2
stack_top:	.long	stack_end
bss_begin:	.long	bss_start
bss_end:	.long	bss_stop
main_address:	.long	calc_main
reset_vector:	.long	0xA0000000
reset_sr:	.long	0x700000F0

	.section .note.GNU-stack, "", @progbits
