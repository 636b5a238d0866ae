/* The add-in's entry: clears the screen buffer, draws a frame and shows it. */
#include "syscalls.h"

void Addin_Fill(unsigned char *buffer, int count, int value);

int Addin_Main(int is_app, unsigned short option)
{
    unsigned char *vram = Display_VramAddress();
    int row;

    (void)is_app;
    (void)option;
    Display_ClearVram();
    Addin_Fill(vram, 16, 0xFF);
    for (row = 1; row < 63; row++) {
        vram[16 * row] |= 0x80;
        vram[16 * row + 15] |= 0x01;
    }
    Addin_Fill(vram + 16 * 63, 16, 0xFF);
    Display_Update();
    return 1;
}
