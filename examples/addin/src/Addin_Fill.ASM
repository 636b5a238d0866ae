! void Addin_Fill(unsigned char *buffer, int count, int value): writes count copies of
! value from buffer on.
        .text
        .global Addin_Fill
        .align  2
Addin_Fill:
        cmp/pl  r5
        bf      2f
1:      mov.b   r6, @r4
        dt      r5
        bf/s    1b
        add     #1, r4
2:      rts
        nop
