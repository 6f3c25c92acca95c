// Reading spandsp's received TIFF pages back and comparing them with the rows our sender put on
// the line; shared by the spandsp interop tests.
#pragma once

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::fax::test {

using Raster = std::vector<std::vector<uint8_t>>;

// Every page of a TIFF as rows of 216 bytes, 1 = black.
inline std::vector<Raster> ReadTiffPages(const std::string& path, std::vector<float>* yres = nullptr) {
  std::vector<Raster> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t width = 0, height = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    float y = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    if (yres) yres->push_back(y);
    Raster rows;
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t r = 0; r < height && width == 1728; ++r) {
      if (TIFFReadScanline(tif, line.data(), r) < 0) break;
      std::vector<uint8_t> row(line.begin(), line.begin() + 216);
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (auto& b : row) b = static_cast<uint8_t>(~b);
      rows.push_back(row);
    }
    pages.push_back(rows);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

inline bool Blank(const std::vector<uint8_t>& row) {
  return std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
}

// The page our sender put on the line: eight blank rows (plus a header line when asked for) in front
// of the document's rows. `lead` gets how many rows came first.
inline ::testing::AssertionResult SameRows(const Raster& got, const Raster& sent, size_t* lead) {
  if (got.size() < sent.size() + 8)
    return ::testing::AssertionFailure() << got.size() << " rows received for " << sent.size() << " sent";
  *lead = got.size() - sent.size();
  for (size_t i = 0; i < 8; ++i)
    if (!Blank(got[i])) return ::testing::AssertionFailure() << "leading row " << i << " has ink";
  for (size_t i = 0; i < sent.size(); ++i)
    if (got[*lead + i] != sent[i]) return ::testing::AssertionFailure() << "row " << i << " differs";
  return ::testing::AssertionSuccess();
}

struct TiffPage {
  Raster rows;
  bool fine = false;
};

// A Group 3 TIFF the way a fax program hands it to spandsp; each page keeps its own resolution.
inline bool WriteTiff(const std::string& path, const std::vector<TiffPage>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  bool ok = true;
  for (size_t p = 0; p < pages.size() && ok; ++p) {
    const Raster& rows = pages[p].rows;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, pages[p].fine ? 196.0f : 98.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
    for (size_t r = 0; r < rows.size() && ok; ++r) {
      std::vector<uint8_t> row = rows[r];
      ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0) >= 0;
    }
    ok = ok && TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok;
}

}  // namespace qv::fax::test
