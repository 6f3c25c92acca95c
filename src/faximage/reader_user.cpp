#include "faximage/converter.h"

namespace qv::faximage {

namespace {

// Rows supplied by the application through the component's events.
class UserReader : public Reader {
 public:
  explicit UserReader(UserRowSource source) : source_(std::move(source)) {}
  int OpenInput(ConverterState&, const std::string& fileName) override {
    if (source_.Open) source_.Open(fileName);
    return 0;
  }
  int GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override {
    len = s.ResWidth / 8;
    if (!source_.ReadLine) {
      endOfPage = true;
      morePages = false;
      return 0;
    }
    source_.ReadLine(raster, len, endOfPage, morePages);
    return 0;
  }
  void CloseInput(ConverterState&) override {
    if (source_.Close) source_.Close();
  }

 private:
  UserRowSource source_;
};

}  // namespace

std::unique_ptr<Reader> MakeUserReader(UserRowSource source) {
  return std::make_unique<UserReader>(std::move(source));
}

}  // namespace qv::faximage
