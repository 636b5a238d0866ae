#include "bios_table.h"

struct known_bios {
  uint32_t checksum;
  char date[CALC_BIOS_DATE_LENGTH];
  uint16_t type;
};

static const struct known_bios known_bios[] = {
    {0x0060DD16u, "2005.0623.1652", 0}, {0x0060DD19u, "2006.0516.0942", 0},
    {0x0062DAECu, "2005.0511.1748", 4}, {0x0060BE46u, "2007.0206.1914", 1},
    {0x005E8147u, "2007.1122.1619", 3}, {0x005E8143u, "2007.1211.1553", 3},
    {0x006B2CE3u, "2009.0203.1852", 2}, {0x006B2CE6u, "2009.0204.0855", 2},
    {0x006B2CDEu, "2009.0203.1910", 2}, {0x006902BCu, "2009.0327.1515", 5},
    {0x0058A781u, "2011.0525.1010", 7},
};

static int same_date(const uint8_t *a, const char *b) {
  for (uint32_t i = 0; i < CALC_BIOS_DATE_LENGTH; ++i)
    if (a[i] != (uint8_t)b[i]) return 0;
  return 1;
}

uint16_t calc_bios_type(const uint8_t date[CALC_BIOS_DATE_LENGTH], uint32_t checksum) {
  for (uint32_t i = 0; i < sizeof known_bios / sizeof known_bios[0]; ++i) {
    if (same_date(date, known_bios[i].date))
      return known_bios[i].checksum == checksum ? known_bios[i].type : CALC_BIOS_UNKNOWN;
  }
  return CALC_BIOS_UNKNOWN;
}
