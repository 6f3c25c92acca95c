#pragma once

#include <cstdint>

namespace qv::faximage {

enum TFaxInputDocumentType { idNone, idText, idTextEx, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };

// TFaxCvtOptions as bits of TFaxCvtOptionsSet.
enum TFaxCvtOptions : uint32_t {
  coDoubleWidth = 1,
  coHalfHeight = 2,
  coCenterImage = 4,
  coYield = 8,
  coYieldOften = 16,
};
using TFaxCvtOptionsSet = uint32_t;
inline constexpr TFaxCvtOptionsSet kDefaultCvtOptions = coDoubleWidth | coCenterImage | coYield;

enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };
enum TFaxFont { ffStandard, ffSmall };

}  // namespace qv::faximage
