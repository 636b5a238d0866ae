#include "link/name_tables.h"

namespace ostrel {

TMap ParityNames() {
  TMap map;
  map.Add("NONE", kParityNone);
  map.Add("ODD", kParityOdd);
  map.Add("EVEN", kParityEven);
  map.Add("MARK", kParityMark);
  map.Add("SPACE", kParitySpace);
  return map;
}

TMap StopBitNames() {
  TMap map;
  map.Add("ONE", kStopOne);
  map.Add("ONE5", kStopOne5);
  map.Add("TWO", kStopTwo);
  map.Add("1", kStopOne);
  map.Add("1.5", kStopOne5);
  map.Add("2", kStopTwo);
  return map;
}

TMap DcbFlagNames() {
  TMap map;
  map.Add("BINARY", kDcbBinary);
  map.Add("PARITY", kDcbParity);
  map.Add("OUTXCTSFLOW", kDcbOutxCtsFlow);
  map.Add("OUTXDSRFLOW", kDcbOutxDsrFlow);
  map.Add("DTRON", kDcbDtrOn);
  map.Add("DTRHANDSHAKE", kDcbDtrHandshake);
  map.Add("DSRSENSITIVITY", kDcbDsrSensitivity);
  map.Add("TXCONTINUEONXOFF", kDcbTxContinueOnXoff);
  map.Add("OUTX", kDcbOutX);
  map.Add("INX", kDcbInX);
  map.Add("ERRORCHAR", kDcbErrorChar);
  map.Add("NULL", kDcbNull);
  map.Add("RTSON", kDcbRtsOn);
  map.Add("RTSHANDSHAKE", kDcbRtsHandshake);
  map.Add("ABORTONERROR", kDcbAbortOnError);
  map.Add("???", kDcbReserved);
  return map;
}

TMap FileFlagNames() {
  TMap map;
  map.Add("FILE_FLAG_OVERLAPPED", kFileFlagOverlapped);
  return map;
}

}  // namespace ostrel
