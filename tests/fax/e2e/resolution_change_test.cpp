// Faxes whose pages change resolution: each page must reach the receiver with its own
// resolution, which a Class 1 sender only achieves by renegotiating (EOM, DCS, training)
// whenever the next page differs from the last.
#include "fax/header_line.h"
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// Rewrites the resolution flag of the listed pages (1-based) of a QVF file made by MakeQvf.
void SetPageResolution(const std::string& path, const std::vector<std::pair<int, bool>>& pages) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  ASSERT_TRUE(f.good());
  std::streamoff pos = 64;
  for (int page = 1; page <= 16; ++page) {
    uint8_t ph[16];
    f.seekg(pos);
    if (!f.read(reinterpret_cast<char*>(ph), 16)) break;
    uint32_t len;
    std::memcpy(&len, ph, 4);
    for (const auto& [number, fine] : pages)
      if (number == page) {
        ph[4] = static_cast<uint8_t>((ph[4] & ~kPageHighRes) | (fine ? kPageHighRes : 0));
        f.seekp(pos);
        f.write(reinterpret_cast<char*>(ph), 16);
      }
    pos += 16 + static_cast<std::streamoff>(len);
  }
}

size_t DecodedRows(const ReceivedPage& page) {
  size_t rows = 0;
  faximage::T4Decoder decoder([&](std::span<const uint8_t>) { ++rows; });
  decoder.startPage();
  decoder.feed(page.data.data(), page.data.size());
  return rows;
}

// Every page the receiver filed, in order. A Class 2/2.0 receiver files the pages after an EOM as
// a new document, a Class 1 receiver keeps them in one file.
std::vector<ReceivedPage> AllReceivedPages(const RemoteCall& call) {
  std::vector<ReceivedPage> pages;
  for (const std::string& name : call.ReceivedFiles())
    if (!ReadReceived(call.dir.str("in/" + name), pages)) ADD_FAILURE() << "unreadable " << name;
  return pages;
}

// The receiver, a process of its own, offers 14400; the Class 1 sender asks for 9600.
ReceiverProcess::Options Receiver(TFaxClass receiverClass) { return {receiverClass, 14400}; }

void StartCall(RemoteCall& call) {
  call.send.FaxClass = fcClass1;
  call.send.DesiredBPS = 9600;
  call.send.StartSending();
}

// A text cover goes out at standard resolution, the fine document after it at fine: the DCS of
// the document's first page must say fine, and the receiver files it so.
void RunTextCoverThenFineDocument(TFaxClass receiverClass) {
  RemoteCall call;
  ASSERT_TRUE(call.Open(Receiver(receiverClass))) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, true, 50);
  {
    std::ofstream cover(call.dir.str("cover.txt"));
    cover << "Cover for $R\nTwo pages follow\n";
  }
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.CoverFile = call.dir.str("cover.txt");
  call.send.HeaderRecipient = "Bob";
  // While pages go out the page shown counts the cover as 1, and the bytes sent never run ahead
  // of the page or fall back within it.
  std::vector<int> shownPages;
  bool bytesSane = true;
  long lastBytes = 0;
  int lastShown = 0;
  auto record = call.send.OnFaxStatus;
  call.send.OnFaxStatus = [&](TQvAbstractFax* cp, bool first, bool last) {
    record(cp, first, last);
    if (last || call.send.ProgressCode() != fpSendPage) return;
    const int shown = call.send.CurrentPageShown();
    const long bytes = call.send.BytesTransferred();
    shownPages.push_back(shown);
    if (shown != lastShown) lastBytes = 0;
    if (bytes < lastBytes || bytes > call.send.PageLength() + 4096) bytesSane = false;
    lastBytes = bytes;
    lastShown = shown;
  };
  StartCall(call);
  ASSERT_TRUE(call.Wait(120)) << call.Trail();
  ASSERT_EQ(call.sent.finishCode, 0) << call.Trail();
  ASSERT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages = AllReceivedPages(call);
  ASSERT_EQ(pages.size(), 3u);
  // The cover: eight blank rows, two text lines at standard height, the end-of-page rows.
  EXPECT_EQ(pages[0].flags & kPageHighRes, 0);
  std::vector<std::vector<uint8_t>> text;
  ASSERT_EQ(CodeTextLine("Cover for Bob", 48, false, text), 0);
  ASSERT_EQ(CodeTextLine("Two pages follow", 48, false, text), 0);
  EXPECT_EQ(DecodedRows(pages[0]), 8 + text.size());
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(pages[p + 1].flags & kPageHighRes, kPageHighRes) << "page " << p + 2;
    size_t lead = 0;
    EXPECT_TRUE(PageMatches(pages[p + 1], rows[p], &lead)) << "page " << p + 2;
    EXPECT_EQ(lead, 8u) << "page " << p + 2;
  }
  EXPECT_EQ(call.send.CurrentPage(), 2);
  ASSERT_FALSE(shownPages.empty());
  EXPECT_EQ(std::count(shownPages.begin(), shownPages.end(), 0), 0);
  EXPECT_EQ(shownPages.front(), 1);
  EXPECT_EQ(*std::max_element(shownPages.begin(), shownPages.end()), 3);
  EXPECT_TRUE(bytesSane);
}

// Fine, then standard twice (the second needs no renegotiation), then fine again.
void RunFineCoverThenMixedDocument(TFaxClass receiverClass) {
  RemoteCall call;
  ASSERT_TRUE(call.Open(Receiver(receiverClass))) << call.receiver.Output();
  auto cover = MakeQvf(call.dir.str("cover.qvf"), 1, true, 30, 50);
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 3, false, 45);
  SetPageResolution(call.dir.str("doc.qvf"), {{3, true}});
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.CoverFile = call.dir.str("cover.qvf");
  call.send.FaxFileExt = "qvf";
  StartCall(call);
  ASSERT_TRUE(call.Wait(150)) << call.Trail();
  ASSERT_EQ(call.sent.finishCode, 0) << call.Trail();
  ASSERT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages = AllReceivedPages(call);
  ASSERT_EQ(pages.size(), 4u);
  const bool fine[4] = {true, false, false, true};
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ((pages[p].flags & kPageHighRes) != 0, fine[p]) << "page " << p + 1;
    size_t lead = 0;
    EXPECT_TRUE(PageMatches(pages[p], p == 0 ? cover[0] : rows[p - 1], &lead)) << "page " << p + 1;
    EXPECT_EQ(lead, 8u) << "page " << p + 1;
  }
}

TEST(ResolutionChange, StandardTextCoverThenFineDocumentClass1) { RunTextCoverThenFineDocument(fcClass1); }
TEST(ResolutionChange, StandardTextCoverThenFineDocumentClass2) { RunTextCoverThenFineDocument(fcClass2); }
TEST(ResolutionChange, FineCoverThenMixedDocumentClass1) { RunFineCoverThenMixedDocument(fcClass1); }
TEST(ResolutionChange, FineCoverThenMixedDocumentClass2) { RunFineCoverThenMixedDocument(fcClass2); }

}  // namespace
}  // namespace qv::fax::test
