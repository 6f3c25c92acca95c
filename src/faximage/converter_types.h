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

// Fax image error codes.
// TODO core name: switch to core/error_codes.h names once they are on main.
inline constexpr int ecUnsupportedFormat = -8002;  // "Unsupported graphics file format"
inline constexpr int ecUserAbort = -8003;          // "User aborted fax conversion"
inline constexpr int ecFontFileNotFound = -8052;   // "QVFAX.FNT not found, or resource bad"
inline constexpr int ecEnhFontTooBig = -8055;  // "Font selected for enhanced text converter too large"

}  // namespace qv::faximage
