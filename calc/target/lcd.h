/* LCD contrast. */
#ifndef CALC_LCD_H
#define CALC_LCD_H

#include <stdint.h>

/* 0 when the contrast was set, nonzero when refused. */
int lcd_set_contrast(void *context, uint32_t value);

#endif
