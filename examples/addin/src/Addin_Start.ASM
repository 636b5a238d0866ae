! int Addin_Start(int is_app, unsigned short option): where the calculator starts the
! add-in, the first byte after the file's 0x200-byte header (0x00300200, addin.ld).
! Copies the initial values of the static data from the add-in file into its RAM, clears
! the data that starts at zero, and returns what Addin_Main returns for the same two
! arguments (r4 and r5, left as the calculator passed them).
        .section .text.start, "ax"
        .global Addin_Start
        .align  2
Addin_Start:
        sts.l   pr, @-r15
        mov.l   data_load, r0
        mov.l   data_start, r1
        mov.l   data_end, r2
1:      cmp/hs  r2, r1
        bt      2f
        mov.b   @r0+, r3
        mov.b   r3, @r1
        bra     1b
        add     #1, r1
2:      mov.l   bss_start, r1
        mov.l   bss_end, r2
        mov     #0, r3
3:      cmp/hs  r2, r1
        bt      4f
        mov.b   r3, @r1
        bra     3b
        add     #1, r1
4:      mov.l   main, r0
        jsr     @r0
        nop
        lds.l   @r15+, pr
        rts
        nop
        .align  2
data_load:  .long   addin_data_load
data_start: .long   addin_data_start
data_end:   .long   addin_data_end
bss_start:  .long   addin_bss_start
bss_end:    .long   addin_bss_end
main:       .long   Addin_Main
