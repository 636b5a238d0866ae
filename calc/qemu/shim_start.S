/* Process entry of the engine run as a Linux user program (under qemu-sh4eb), and the
 * system call gate: number in r3, arguments in r4 to r6, result in r0. */
	.text
	.global	_start
_start:
	mov	r15, r4			/* argc, argv[] */
	mov.l	main_address, r0
	jsr	@r0
	nop
	mov	r0, r4
	mov	#1, r3			/* exit */
	trapa	#0x13
1:	bra	1b
	nop

	.global	shim_syscall
shim_syscall:
	mov	r4, r3
	mov	r5, r4
	mov	r6, r5
	mov	r7, r6
	trapa	#0x13
	rts
	nop

	.align	2
main_address:	.long	shim_main

	.section .note.GNU-stack, "", @progbits
