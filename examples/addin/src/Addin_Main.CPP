/* The add-in's entry: draws a frame round the screen with two lines of text in it, shows
   it, and waits for keys. The calculator's GetKey leaves for the main menu on MENU. */
#include "syscalls.h"

void Addin_Fill(unsigned char *buffer, int count, int value);

int Addin_Main(int is_app, unsigned short option)
{
    unsigned char *vram = Display_VramAddress();
    unsigned int key;
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
    Text_Locate(5, 3);
    Text_Print((const unsigned char *)"Ostrel add-in");
    Text_Locate(5, 5);
    Text_Print((const unsigned char *)"Press MENU");
    Display_Update();
    for (;;) {
        Keyboard_GetKey(&key);
    }
    return 1;
}
