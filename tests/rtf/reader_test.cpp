// RTF as other word processors write it: small samples in the manner of Word, LibreOffice Writer,
// WordPad and AbiWord (written by hand for these tests, not taken from those programs), and the
// reader's treatment of each construct they use.
#include <gtest/gtest.h>

#include "rtf/rtf_reader.h"

using namespace qv::rtf;
using RtfRun = qv::rtf::Run;  // TEST bodies see testing::Test::Run first

namespace {

Document Read(std::string_view rtf, ReadResult* result = nullptr) {
  Document doc;
  ReadResult r = ReadRtf(rtf, doc);
  EXPECT_TRUE(r) << r.message;
  if (result) *result = r;
  return doc;
}

std::vector<std::string> Texts(const Paragraph& p) {
  std::vector<std::string> out;
  for (const RtfRun& r : p.runs) out.push_back(r.kind == RtfRun::Kind::Text ? r.text : r.field.placeholder);
  return out;
}

const RtfRun* FindRun(const Document& doc, std::string_view text) {
  for (const Paragraph& p : doc.paragraphs)
    for (const RtfRun& r : p.runs)
      if (r.kind == RtfRun::Kind::Text && r.text.find(text) != std::string::npos) return &r;
  return nullptr;
}

constexpr std::string_view kPngHex = "89504e470d0a1a0a0000000d49484452";

}  // namespace

TEST(RtfReaderSamples, WordStyle) {
  const std::string rtf = std::string(R"({\rtf1\adeflang1025\ansi\ansicpg1252\uc1\adeff31507\deff0\stshfdbch31505\deflang1033
{\fonttbl{\f0\fbidi \froman\fcharset0\fprq2{\*\panose 02020603050405020304}Times New Roman;}
{\f1\fbidi \fswiss\fcharset0\fprq2{\*\panose 020b0604020202020204}Arial;}
{\flomajor\f31500\fbidi \froman\fcharset0\fprq2 Times New Roman;}
{\f39\fbidi \froman\fcharset238\fprq2 Times New Roman CE;}}
{\colortbl;\red0\green0\blue0;\red0\green0\blue255;\red255\green0\blue0;}
{\*\defchp \fs22\loch\af31506\hich\af31506\dbch\af31505 }{\*\defpap \ql \li0\ri0\sa160\sl259\slmult1 }
{\stylesheet{\ql \li0\ri0\sa160\sl259\slmult1\widctlpar \rtlch\fcs1 \af31507\afs22 \ltrch\fcs0 \f31506\fs22\lang1033 \snext0 \sqformat \spriority0 Normal;}
{\*\cs10 \additive \ssemihidden Default Paragraph Font;}}
{\*\rsidtbl \rsid1234\rsid5678}{\mmathPr\mmathFont34\mbrkBin0}
{\info{\title Quarterly note}{\author A. Writer}{\creatim\yr2024\mo1\dy2\hr3\min4}{\nofpages1}}
{\*\xmlnstbl {\xmlns1 http://schemas.microsoft.com/office/word/2003/wordml}}
\paperw11906\paperh16838\margl1417\margr1417\margt1417\margb1134\gutter0\ltrsect
\widowctrl\ftnbj\aenddoc\trackmoves0\formshade\horzdoc\dgmargin\dghspace180
{\*\themedata 504b030414000600080000002100e9de0fbfff0000001c020000130000005b436f6e}
{\*\colorschememapping 3c3f786d6c2076657273696f6e3d22312e30}
{\*\latentstyles\lsdstimax376\lsdlockeddef0{\lsdlockedexcept \lsdqformat1 \lsdpriority0 Normal;}}
\sectd \ltrsect\linex0\headery708\footery708\colsx708\endnhere\sectlinegrid360\sectdefaultcl\sftnbj
{\*\pnseclvl1\pnucrm\pnstart1\pnindent720\pnhang {\pntxta .}}
{\header \ltrpar \pard\plain \ltrpar\s15\ql {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 Header text}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \par }}
{\footer \pard\plain \qr {Page }{\field{\*\fldinst PAGE}{\fldrslt 1}}\par }
\pard\plain \ltrpar\qc \li0\ri0\sa160\sl259\slmult1\widctlpar\wrapdefault\aspalpha\faauto\rin0\lin0\itap0 \rtlch\fcs1 \af31507\afs22\alang1025 \ltrch\fcs0 \f31506\fs22\lang1033\langfe1033\cgrid
{\rtlch\fcs1 \ab\af31507 \ltrch\fcs0 \b\f1\fs32\insrsid1 Title}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \par }
\pard \ltrpar\qj \fi-360\li720\ri144\sb120\sa240\widctlpar\rin144\lin720 {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 Dear }{\field{\*\fldinst {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1  MERGEFIELD  "Recipient"  }}{\fldrslt {\rtlch\fcs1 \af31507 \ltrch\fcs0 \lang1024\langfe1024\noproof\insrsid1 \'abRecipient\'bb}}}
{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 , see \ldblquote }{\rtlch\fcs1 \ai\af31507 \ltrch\fcs0 \i\insrsid1 the plan}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \rdblquote  at }
{\field{\*\fldinst {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1  HYPERLINK "http://example.org/" }{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 {\*\datafield 00d0c9ea79f9bace118c8200aa004ba90b02000000}}}{\fldrslt {\rtlch\fcs1 \af31507 \ltrch\fcs0 \ul\cf2\insrsid1 example.org}}}
{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 ; costs \u8364\'80 5 {\*\bkmkstart here}{\*\bkmkend here}\'96 \ul\strike done\ulnone\strike0 .}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \par }
\pard \ltrpar\ql \li0\ri0\sl-300\slmult0 {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 H}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \sub\insrsid1 2}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 O and x}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \super\insrsid1 2}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \cf3\insrsid1  red}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \par }
{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \page }\pard \ltrpar\qr {\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 Second page}{\rtlch\fcs1 \af31507 \ltrch\fcs0 \insrsid1 \par }
\trowd \irow0\irowband0\ltrrow\ts11\trgaph108\trleft-108\trftsWidth1\cellx4536\cellx9072\pard\plain \ltrpar\ql \intbl {\rtlch\fcs1 \ltrch\fcs0 Name\cell }{\rtlch\fcs1 \ltrch\fcs0 Value\cell }\pard\plain \ltrpar\intbl {\rtlch\fcs1 \ltrch\fcs0 \trowd \irow0\cellx4536\cellx9072\row }
\pard\plain \ltrpar\ql {\*\shppict{\pict{\*\picprop\shplid1025{\sp{\sn shapeType}{\sv 75}}{\sp{\sn fLayoutInCell}{\sv 1}}}\picscalex50\picscaley100\piccropl0\piccropr0\piccropt0\piccropb0\picw1270\pich1270\picwgoal720\pichgoal720\pngblip\bliptag-12345{\*\blipuid 0123456789abcdef0123456789abcdef})") +
                          std::string(kPngHex) + R"(}}{\nonshppict{\pict\picscalex100\picscaley100\picw1270\pich1270\picwgoal720\pichgoal720\wmetafile8\bliptag-12345 010009000003}}\par
{\*\wgrffmtfilter 2450}{\*\ftnsep \chftnsep }
})";
  ReadResult result;
  const Document doc = Read(rtf, &result);
  EXPECT_EQ(result.skippedPictures, 0);  // the metafile is only the fallback of the PNG
  EXPECT_EQ(doc.page, (PageSetup{11906, 16838, 1417, 1417, 1417, 1134}));
  ASSERT_EQ(doc.paragraphs.size(), 7u);

  const Paragraph& title = doc.paragraphs[0];
  EXPECT_EQ(title.format.alignment, Alignment::Center);
  EXPECT_EQ(title.format.spaceAfter, 160);
  EXPECT_EQ(title.format.lineHeight, 0);  // \sl259\slmult1: about single spacing
  ASSERT_EQ(title.runs.size(), 1u);
  EXPECT_EQ(title.runs[0].text, "Title");
  EXPECT_TRUE(title.runs[0].format.bold);
  EXPECT_EQ(title.runs[0].format.halfPoints, 32);
  EXPECT_EQ(title.runs[0].format.fontName, "Arial");

  const Paragraph& body = doc.paragraphs[1];
  EXPECT_EQ(body.format, (ParaFormat{Alignment::Justify, -360, 720, 144, 120, 240, 0, false}));
  ASSERT_GE(body.runs.size(), 2u);
  EXPECT_EQ(body.runs[0].text, "Dear ");
  EXPECT_EQ(body.runs[0].format.fontName, "");  // \f31506 is not in the table: the default font
  EXPECT_EQ(body.runs[0].format.halfPoints, 22);
  ASSERT_EQ(body.runs[1].kind, RtfRun::Kind::Field);
  EXPECT_EQ(body.runs[1].field.kind, 1);
  EXPECT_EQ(body.runs[1].field.placeholder, "«Recipient»");
  const RtfRun* italic = FindRun(doc, "the plan");
  ASSERT_NE(italic, nullptr);
  EXPECT_TRUE(italic->format.italic);
  const RtfRun* link = FindRun(doc, "example.org");  // another kind of field: its result as text
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->format.underline);
  EXPECT_EQ(link->format.color, 0x0000FFu);
  const RtfRun* done = FindRun(doc, "done");
  ASSERT_NE(done, nullptr);
  EXPECT_TRUE(done->format.underline);
  EXPECT_TRUE(done->format.strikeOut);
  EXPECT_EQ(doc.PlainText().rfind("Title\nDear «Recipient», see “the plan” at example.org; costs € 5 – done.\n", 0), 0u)
      << doc.PlainText();

  const Paragraph& chem = doc.paragraphs[2];
  EXPECT_EQ(chem.format.lineHeight, 300);  // exactly 15 pt read as at least 15 pt
  EXPECT_EQ(Texts(chem), (std::vector<std::string>{"H", "2", "O and x", "2", " red"}));
  EXPECT_EQ(chem.runs[1].format.verticalAlign, VerticalAlign::Subscript);
  EXPECT_EQ(chem.runs[3].format.verticalAlign, VerticalAlign::Superscript);
  EXPECT_EQ(chem.runs[4].format.color, 0xFF0000u);

  EXPECT_TRUE(doc.paragraphs[3].format.pageBreakBefore);
  EXPECT_EQ(doc.paragraphs[3].format.alignment, Alignment::Right);
  EXPECT_EQ(Texts(doc.paragraphs[3]), (std::vector<std::string>{"Second page"}));
  EXPECT_FALSE(doc.paragraphs[4].format.pageBreakBefore);
  // A table of one row: a paragraph per cell, widths from \trleft and the \cellx.
  EXPECT_EQ(Texts(doc.paragraphs[4]), (std::vector<std::string>{"Name"}));
  EXPECT_EQ(doc.paragraphs[4].cell, (TableCell{1, 0, 0, 4644, false}));
  EXPECT_EQ(Texts(doc.paragraphs[5]), (std::vector<std::string>{"Value"}));
  EXPECT_EQ(doc.paragraphs[5].cell, (TableCell{1, 0, 1, 4536, false}));

  ASSERT_EQ(doc.paragraphs[6].runs.size(), 1u);
  const RtfRun& pic = doc.paragraphs[6].runs[0];
  ASSERT_EQ(pic.kind, RtfRun::Kind::Picture);
  EXPECT_EQ(pic.picture.format, PictureFormat::Png);
  EXPECT_EQ(pic.picture.data.size(), kPngHex.size() / 2);
  EXPECT_EQ(pic.picture.data[1], 'P');
  EXPECT_EQ(pic.picture.widthTwips, 360);  // 720 at 50 %
  EXPECT_EQ(pic.picture.heightTwips, 720);
  EXPECT_EQ(pic.picture.pixelWidth, 1270);
  // Header, footer, style sheet, information and theme left no text behind.
  EXPECT_EQ(doc.PlainText().find("Header"), std::string::npos);
  EXPECT_EQ(doc.PlainText().find("Normal"), std::string::npos);
  EXPECT_EQ(doc.PlainText().find("Quarterly"), std::string::npos);
}

TEST(RtfReaderSamples, LibreOfficeStyle) {
  const std::string_view rtf = R"({\rtf1\ansi\deff4\adeflang1025
{\fonttbl{\f0\froman\fprq2\fcharset0 Times New Roman;}{\f1\froman\fprq2\fcharset2 Symbol;}{\f2\fswiss\fprq2\fcharset0 Arial;}{\f3\froman\fprq2\fcharset0 Liberation Serif{\*\falt Times New Roman};}{\f4\fswiss\fprq2\fcharset0 Liberation Sans{\*\falt Arial};}}
{\colortbl;\red0\green0\blue0;\red128\green128\blue128;\red201\green33\blue30;}
{\stylesheet{\s0\snext0\dbch\af5\langfe2052\dbch\af6\afs24\alang1081\loch\f3\hich\af3\fs24\lang1033 Normal;}
{\*\cs15\snext15 Numbering Symbols;}
{\s16\sbasedon0\snext17\sb240\sa120\keepn\dbch\af5\dbch\af6\afs28\loch\f4\fs28 Heading;}
}{\*\generator LibreOffice/7.4.7.2$Linux_X86_64 LibreOffice_project/40$Build-2}{\info{\creatim\yr2024\mo5\dy6\hr7\min8}{\revtim\yr2024\mo5\dy6\hr7\min9}{\printim\yr0\mo0\dy0\hr0\min0}}{\*\userprops}\deftab709
\hyphauto1\viewscale100
{\*\pgdsctbl
{\pgdsc0\pgdscuse451\pgwsxn11906\pghsxn16838\marglsxn1134\margrsxn1134\margtsxn1134\margbsxn1134\pgdscnxt0 Default Page Style;}}
\formshade{\*\pgdscno0}\paperh16838\paperw11906\margl1134\margr1134\margt1134\margb1134\sectd\sbknone\sftnnar\saftnnrlc\sectunlocked1\pgwsxn11906\pghsxn16838\marglsxn1134\margrsxn1134\margtsxn1134\margbsxn1134\ftnbj\ftnstart1\ftnrstcont\ftnnar\aenddoc\aftnrstcont\aftnstart1\aftnnrlc
{\*\ftnsep\chftnsep}\pgndec\pard\plain \s0\ql\widctlpar\hyphpar0\ltrpar\cf0\dbch\af5\langfe2052\dbch\af6\afs24\alang1081\loch\f3\hich\af3\fs24\lang1033{\loch
Plain }{\b\ab\rtlch \ltrch\loch
bold }{\i\ai\rtlch \ltrch\loch
italic }{\ul\ulc0\rtlch \ltrch\loch
underlined}
\par \pard\plain \s0\qc\widctlpar\hyphpar0\ltrpar\cf0\dbch\af5\langfe2052\dbch\af6\afs24\alang1081\loch\f3\hich\af3\fs24\lang1033\sl360\slmult1{\cf3\fs36\afs36\rtlch \ltrch\loch
Centred \u8364\'80 and \u1087\'3f\u1088\'3f\u1080\'3f}
\par \pard\plain \s0\ql\widctlpar\hyphpar0\ltrpar\cf0\dbch\af5\langfe2052\dbch\af6\afs24\alang1081\loch\f3\hich\af3\fs24\lang1033\pagebb{\loch\f2\hich\af2
After the break}
\par \pard\plain \s0\qr\widctlpar\li567\ri0\lin567\rin0\fi0\sb0\sa283\ltrpar\loch\f4\hich\af4\fs24
\par }
)";
  const Document doc = Read(rtf);
  EXPECT_EQ(doc.page, (PageSetup{11906, 16838, 1134, 1134, 1134, 1134}));
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  const Paragraph& first = doc.paragraphs[0];
  EXPECT_EQ(Texts(first), (std::vector<std::string>{"Plain ", "bold ", "italic ", "underlined"}));
  EXPECT_EQ(first.runs[0].format.fontName, "Liberation Serif");
  EXPECT_FALSE(first.runs[0].format.bold);
  EXPECT_TRUE(first.runs[1].format.bold);
  EXPECT_TRUE(first.runs[2].format.italic);
  EXPECT_TRUE(first.runs[3].format.underline);
  EXPECT_FALSE(first.runs[3].format.color.has_value());  // \cf0: automatic

  const Paragraph& centred = doc.paragraphs[1];
  EXPECT_EQ(centred.format.alignment, Alignment::Center);
  EXPECT_EQ(centred.format.lineHeight, 360 * 36 * 12 / 480);  // one and a half lines of 18 pt
  ASSERT_EQ(centred.runs.size(), 1u);
  EXPECT_EQ(centred.runs[0].text, "Centred € and при");
  EXPECT_EQ(centred.runs[0].format.halfPoints, 36);
  EXPECT_EQ(centred.runs[0].format.color, 0xC9211Eu);

  EXPECT_TRUE(doc.paragraphs[2].format.pageBreakBefore);
  EXPECT_EQ(doc.paragraphs[2].runs[0].format.fontName, "Arial");
  // A trailing empty paragraph ended by \par is a paragraph; the default font reads as "".
  EXPECT_TRUE(doc.paragraphs[3].runs.empty());
  EXPECT_EQ(doc.paragraphs[3].format.alignment, Alignment::Right);
  EXPECT_EQ(doc.paragraphs[3].format.leftIndent, 567);
  EXPECT_EQ(doc.paragraphs[3].format.spaceAfter, 283);
}

TEST(RtfReaderSamples, WordPadStyle) {
  const std::string_view rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
      "{\\f1\\fnil\\fcharset238 Calibri;}{\\f2\\fnil\\fcharset204 Arial;}}\r\n"
      "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
      "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
      "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 Hello \\b bold\\b0  \\i italic\\i0  \\ul under\\ulnone\\par\r\n"
      "\\cf1 red\\cf0\\par\r\n"
      "\\f1\\'e8esky\\f2  \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\f0\\par\r\n"
      "\\qc centred\\par\r\n"
      "}\r\n\0";
  const Document doc = Read(rtf);
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  EXPECT_EQ(Texts(doc.paragraphs[0]), (std::vector<std::string>{"Hello ", "bold", " ", "italic", " ", "under"}));
  EXPECT_EQ(doc.paragraphs[0].format.lineHeight, 0);  // 1.15 lines: single spacing
  EXPECT_EQ(doc.paragraphs[0].format.spaceAfter, 200);
  EXPECT_TRUE(doc.paragraphs[0].runs[1].format.bold);
  EXPECT_TRUE(doc.paragraphs[0].runs[3].format.italic);
  EXPECT_TRUE(doc.paragraphs[0].runs[5].format.underline);
  EXPECT_EQ(doc.paragraphs[1].runs[0].format.color, 0xFF0000u);
  // \'hh follows the font's character set: Central European, then Cyrillic.
  EXPECT_EQ(doc.PlainText(), "Hello bold italic under\nred\nčesky Привет\ncentred");
  EXPECT_EQ(doc.paragraphs[3].format.alignment, Alignment::Center);
}

TEST(RtfReaderSamples, AbiWordStyle) {
  const std::string_view rtf = R"({\rtf1\ansi\ansicpg1252\deff0
{\fonttbl
{\f0\fswiss\fcharset0\fprq2 Arial;}
{\f1\froman\fcharset0\fprq2 Times New Roman;}}
{\colortbl
\red0\green0\blue0;
\red255\green0\blue0;}
{\stylesheet
{\s1\sb440\sa60\f0\fs34\b\sbasedon2\snext2 Heading 1;}
{\s2\f1\fs24 Normal;}
{\*\cs3\fs20\super Footnote Reference;}}
\kerning0\cf0\ftnbj\fet2\ftnstart1\ftnnar\aftnnar\aenddoc\revprop3{\*\rdf}{\info\uc1}\deftab720\viewkind1\paperw12240\paperh15840\margl1440\margr1440\widowctrl
\sectd\sbknone\colsx0\margtsxn720\margbsxn720\marglsxn720\margrsxn720\pgncont\ltrsect
\pard\plain\ltrpar\qc\sl240\slmult1\itap0{\f0\fs32\b\lang1024{\*\listtag0}Heading}{\f0\fs32\b\lang1024{\*\listtag0}\par}
\pard\plain\ltrpar\ql\sl240\slmult1\itap0{\f0\fs24\cf1\lang1024{\*\listtag0}Red }{\f0\fs24\i\lang1024{\*\listtag0}and italic}{\f0\fs24\lang1024{\*\listtag0}\par}
\pard\plain\ltrpar\qr\sl240\slmult1\itap0{\f0\fs24\lang1024{\*\listtag0}\page After a break}{\f0\fs24\lang1024{\*\listtag0}\par}
\sect\sectd\sbkpage\margtsxn1440\marglsxn1440
\pard\plain\ltrpar\ql{\f1\fs24 New section}{\f1\fs24\par}})";
  const Document doc = Read(rtf);
  // The first section's margins override the document's; later sections do not change the page.
  EXPECT_EQ(doc.page, (PageSetup{12240, 15840, 720, 720, 720, 720}));
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  EXPECT_EQ(doc.PlainText(), "Heading\nRed and italic\nAfter a break\nNew section");
  EXPECT_EQ(doc.paragraphs[0].format.alignment, Alignment::Center);
  EXPECT_EQ(doc.paragraphs[0].runs[0].format.halfPoints, 32);
  EXPECT_EQ(doc.paragraphs[0].runs[0].format.fontName, "");  // \f0 is the default font
  EXPECT_TRUE(doc.paragraphs[0].runs[0].format.bold);
  EXPECT_EQ(doc.paragraphs[1].runs[0].format.color, 0xFF0000u);
  EXPECT_TRUE(doc.paragraphs[1].runs[1].format.italic);
  // A \page inside the paragraph's first run still breaks before the paragraph.
  EXPECT_TRUE(doc.paragraphs[2].format.pageBreakBefore);
  EXPECT_EQ(doc.paragraphs[2].format.alignment, Alignment::Right);
  EXPECT_TRUE(doc.paragraphs[3].format.pageBreakBefore);  // \sect followed by \sbkpage
  EXPECT_EQ(doc.paragraphs[3].runs[0].format.fontName, "Times New Roman");
  for (const Paragraph& p : doc.paragraphs) EXPECT_EQ(p.format.lineHeight, 0);
}

TEST(RtfReader, CodePagesAndUnicodeFallbacks) {
  EXPECT_EQ(Read("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}").PlainText(), "При");
  EXPECT_EQ(Read("{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2}").PlainText(), "αβ");
  EXPECT_EQ(Read("{\\rtf1\\ansi\\ansicpg1250 \\'9a\\'e8}").PlainText(), "šč");
  EXPECT_EQ(Read("{\\rtf1\\ansi \\'80\\'e9\\'93}").PlainText(), "€é“");  // 1252 by default
  EXPECT_EQ(Read("{\\rtf1\\ansi\\ansicpg437 \\'e9}").PlainText(), "é");   // unknown: read as 1252
  // \ucN: N fallback characters after each \uN are skipped, \'hh counting as one.
  EXPECT_EQ(Read("{\\rtf1 \\uc2\\u8364\\'80\\'80X}").PlainText(), "€X");
  EXPECT_EQ(Read("{\\rtf1 \\uc0\\u8364 X}").PlainText(), "€X");
  EXPECT_EQ(Read("{\\rtf1 \\u8364?X\\u-3913?}").PlainText(), "€X\uF0B7");
  EXPECT_EQ(Read("{\\rtf1 \\u8220\\ldblquote x}").PlainText(), "“x");
  // \ucN is scoped to its group; a closing brace ends a fallback.
  EXPECT_EQ(Read("{\\rtf1 {\\uc3 \\u8364abcd}\\u8364ab}").PlainText(), "€d€b");
  EXPECT_EQ(Read("{\\rtf1 \\uc4\\u8364{\\b x}}").PlainText(), "€x");
  // A missing fallback does not swallow a paragraph mark.
  EXPECT_EQ(Read("{\\rtf1 \\u8364\\par x}").PlainText(), "€\nx");
  // Surrogate pairs, and lone surrogates as replacement characters.
  EXPECT_EQ(Read("{\\rtf1 \\u-10179?\\u-8704?}").PlainText(), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Read("{\\rtf1 \\u-10179?x\\u-8704?}").PlainText(), "\uFFFDx\uFFFD");
}

TEST(RtfReader, SpecialCharactersBreaksAndHiddenText) {
  EXPECT_EQ(Read("{\\rtf1 a\\tab b\\line c\\~d\\_e\\-f\\{\\}\\\\}").PlainText(), "a\tb\nc\u00A0d\u2011ef{}\\");
  EXPECT_EQ(Read("{\\rtf1 a\\emdash\\endash\\bullet\\lquote\\rquote b}").PlainText(), "a—–•‘’b");
  EXPECT_EQ(Read("{\\rtf1 vis{\\v hidden}ible}").PlainText(), "visible");
  EXPECT_EQ(Read("{\\rtf1 one\\\r\ntwo}").PlainText(), "one\ntwo");  // \<newline> is \par
  EXPECT_EQ(Read("{\\rtf1 li\r\nne\n}").PlainText(), "line");    // bare line ends are not text

  // \page in the middle of a paragraph splits it; \pard after it does not lose the break.
  Document doc = Read("{\\rtf1 \\pard\\qc one\\page\\pard two\\par three\\par}");
  ASSERT_EQ(doc.paragraphs.size(), 3u);
  EXPECT_EQ(doc.paragraphs[0].format.alignment, Alignment::Center);
  EXPECT_FALSE(doc.paragraphs[0].format.pageBreakBefore);
  EXPECT_TRUE(doc.paragraphs[1].format.pageBreakBefore);
  EXPECT_FALSE(doc.paragraphs[2].format.pageBreakBefore);

  // Section breaks start a page unless the next section is continuous.
  doc = Read("{\\rtf1 a\\sect\\sectd b\\sect\\sectd\\sbknone c\\par}");
  ASSERT_EQ(doc.paragraphs.size(), 3u);
  EXPECT_TRUE(doc.paragraphs[1].format.pageBreakBefore);
  EXPECT_FALSE(doc.paragraphs[2].format.pageBreakBefore);

  // \plain and \pard reset character and paragraph formatting; groups restore them.
  doc = Read("{\\rtf1 \\qr\\b\\fs40 a{\\i\\ql b\\par}c\\plain d\\par\\pard e}");
  ASSERT_EQ(doc.paragraphs.size(), 3u);
  EXPECT_EQ(doc.paragraphs[0].format.alignment, Alignment::Left);
  EXPECT_EQ(doc.paragraphs[1].format.alignment, Alignment::Right);
  EXPECT_EQ(doc.paragraphs[2].format.alignment, Alignment::Left);
  const Paragraph& p1 = doc.paragraphs[1];
  ASSERT_EQ(p1.runs.size(), 2u);
  EXPECT_TRUE(p1.runs[0].format.bold);
  EXPECT_FALSE(p1.runs[0].format.italic);
  EXPECT_EQ(p1.runs[0].format.halfPoints, 40);
  EXPECT_EQ(p1.runs[1].format, CharFormat{});
}

TEST(RtfReader, TablesKeepTheirRowsCellsAndWidths) {
  const Document doc = Read(
      "{\\rtf1 Before\\par"
      "\\trowd\\trleft100\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\cellx1000\\clbrdrt\\brdrnone\\cellx2000\\cellx3500"
      "\\pard\\intbl A\\cell\\cell C\\cell\\row"
      "\\trowd\\cellx1000\\pard\\intbl x\\par y\\cell\\row"
      "\\pard After\\par"
      "\\trowd\\cellx500\\pard\\intbl second\\cell\\row"
      "\\trowd\\cellx500\\pard\\intbl\\itap2 in\\nestcell ner\\nestcell{\\*\\nesttableprops\\trowd\\cellx100\\nestrow}"
      "{\\nonesttables\\par}\\pard\\intbl\\itap2 x\\nestcell{\\*\\nesttableprops\\trowd\\cellx100\\nestrow}"
      "{\\nonesttables\\par}\\pard\\intbl\\itap1\\cell\\row}");
  ASSERT_EQ(doc.paragraphs.size(), 11u) << doc.PlainText();
  EXPECT_EQ(doc.PlainText(), "Before\nA\n\nC\nx\ny\nAfter\nsecond\nin\tner\nx\n");
  auto cell = [&](size_t i) { return doc.paragraphs[i].cell; };
  EXPECT_EQ(cell(0), TableCell{}) << "no table paragraph";
  EXPECT_EQ(cell(1), (TableCell{1, 0, 0, 900, true})) << "the width from \\trleft to the first \\cellx";
  EXPECT_EQ(cell(2), (TableCell{1, 0, 1, 1000, false})) << "an empty cell is an empty paragraph";
  EXPECT_EQ(cell(3), (TableCell{1, 0, 2, 1500, false}));
  EXPECT_EQ(cell(4), (TableCell{1, 1, 0, 1000, false})) << "two paragraphs in one cell";
  EXPECT_EQ(cell(5), (TableCell{1, 1, 0, 1000, false}));
  EXPECT_EQ(cell(6).table, 0);
  EXPECT_EQ(cell(7), (TableCell{2, 0, 0, 500, false})) << "a new table after text";
  EXPECT_EQ(cell(8), (TableCell{2, 1, 0, 500, false})) << "a table in a cell stays in it as text";
  EXPECT_EQ(cell(9), (TableCell{2, 1, 0, 500, false}));
  EXPECT_EQ(cell(10), (TableCell{2, 1, 0, 500, false})) << "the outer cell's paragraph after it";
}

TEST(RtfReader, ListsFromTheListTablesAndTheOlderMarking) {
  // In the manner of Word and LibreOffice: list definitions, overrides (LibreOffice writes them
  // without \\*), \\listtext markers.
  const Document doc = Read(R"({\rtf1
{\*\listtable{\list\listtemplateid7{\listlevel\levelnfc23{\leveltext\'01\u8226 ?;}{\levelnumbers;}\fi-360\li720}
{\listlevel\levelnfc4{\leveltext\'02\'01.;}{\levelnumbers\'01;}\fi-360\li1440}{\listname ;}\listid41}
{\list{\listlevel\levelnfc0\levelstartat1{\leveltext\'02\'00.;}}\listid42}
{\list{\listlevel\levelnfc255{\leveltext\'00;}}\listid43}}
{\listoverridetable{\listoverride\listid41\listoverridecount0\ls1}{\listoverride\listid42\ls2}{\listoverride\listid43\ls3}}
\pard\li720\fi-360\ls1 {\listtext \u8226 ?\tab}Bullet\par
\pard\li1800\fi-360\ls1\ilvl1 {\listtext a.\tab}Nested\par
\pard\li720\fi-360\ls2 {\listtext 1.\tab}Numbered\par
\pard\ls3 {\listtext \tab}No marker\par
\pard\ls9\ilvl42 Undefined\par
\pard{\pntext\f1\'b7\tab}{\*\pn\pnlvlblt\pnf1\pnindent0{\pntxtb\'b7}}\fi-360\li360 Old bullet\par
\pard{\pntext 1.\tab}{\*\pn\pnlvlbody\pnucrm\pnstart1{\pntxta .}}\fi-360\li360 Old number\par
\pard Plain\par})");
  ASSERT_EQ(doc.paragraphs.size(), 8u);
  EXPECT_EQ(doc.PlainText(), "Bullet\nNested\nNumbered\n\tNo marker\nUndefined\nOld bullet\nOld number\nPlain")
      << "the markers of list items are not text; that of a level without a number stays";
  auto item = [&](size_t i) { return doc.paragraphs[i].list; };
  EXPECT_EQ(item(0), (ListItem{ListStyle::Bullet, 1, 0}));
  EXPECT_EQ(item(1), (ListItem{ListStyle::LowerAlpha, 1, 1}));
  EXPECT_EQ(item(2), (ListItem{ListStyle::Decimal, 2, 0}));
  EXPECT_EQ(item(3), ListItem{}) << "a level without a number is no list item";
  EXPECT_EQ(item(4), (ListItem{ListStyle::Bullet, 9, kMaxListLevel}));
  EXPECT_EQ(item(5).style, ListStyle::Bullet);
  EXPECT_EQ(item(6).style, ListStyle::UpperRoman);
  EXPECT_EQ(item(7), ListItem{});
  // The list's indent is the list's; what is left is the paragraph's own.
  EXPECT_EQ(doc.paragraphs[0].format.leftIndent, 720 - kListIndentTwips);
  EXPECT_EQ(doc.paragraphs[0].format.firstIndent, 0);
  EXPECT_EQ(doc.paragraphs[1].format.leftIndent, 1800 - 2 * kListIndentTwips);
  EXPECT_EQ(doc.paragraphs[3].format.leftIndent, 0);
}

TEST(RtfReader, FieldsAndMergeFieldNames) {
  Document doc = Read(
      "{\\rtf1 {\\field{\\*\\fldinst MERGEFIELD recipient}{\\fldrslt [R]}}"
      "{\\field{\\*\\fldinst { MERGEFIELD \"FaxNumber\" \\\\* MERGEFORMAT }}{\\fldrslt {\\b [F]}}}"
      "{\\field{\\*\\fldinst MERGEFIELD Street}{\\fldrslt Main St}}"
      "{\\field{\\*\\fldinst DATE \\\\@ \"d.M.yyyy\"}{\\fldrslt 1.2.2024}}"
      "{\\field{\\*\\fldinst MERGEFIELD TIME}}"
      "{\\field\\fldedit{\\*\\fldinst MERGEFIELD SUBJECT}{\\fldrslt two\\par paras}}}");
  ASSERT_EQ(doc.paragraphs.size(), 2u);
  const Paragraph& p = doc.paragraphs[0];
  ASSERT_EQ(p.runs.size(), 5u);
  EXPECT_EQ(p.runs[0].kind, RtfRun::Kind::Field);
  EXPECT_EQ(p.runs[0].field, (MergeField{1, "[R]"}));
  EXPECT_EQ(p.runs[1].field, (MergeField{2, "[F]"}));
  EXPECT_TRUE(p.runs[1].format.bold);
  // Fields not of ours keep their result as text.
  EXPECT_EQ(p.runs[2].kind, RtfRun::Kind::Text);
  EXPECT_EQ(p.runs[2].text, "Main St1.2.2024");
  EXPECT_EQ(p.runs[3].field, (MergeField{5, ""}));
  // A result running over a paragraph end stays text.
  EXPECT_EQ(p.runs[4].text, "two");
  EXPECT_EQ(doc.paragraphs[1].runs[0].text, "paras");
}

TEST(RtfReader, PicturesKeptSkippedAndBinary) {
  ReadResult result;
  const std::string rtf = std::string("{\\rtf1 {\\pict\\jpegblip\\picw2\\pich3 ffd8 ff\r\nd9}") +
                          "{\\pict\\wmetafile8\\picw2\\pich3 0100}{\\pict\\emfblip 0100}{\\pict\\dibitmap0 28}" +
                          "{\\pict\\macpict 00}{\\pict 0102}" +
                          "{\\pict\\pngblip\\bin6 " + std::string("{}\\\0\x89x", 6) + "}" +
                          "{\\*\\unknown\\bin3 }}}}after\\bin2 {{}";
  const Document doc = Read(rtf, &result);
  EXPECT_EQ(result.skippedPictures, 5);
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  const Paragraph& p = doc.paragraphs[0];
  ASSERT_EQ(p.runs.size(), 3u);
  EXPECT_EQ(p.runs[0].picture.format, PictureFormat::Jpeg);
  EXPECT_EQ(p.runs[0].picture.data, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xD9}));
  EXPECT_EQ(p.runs[0].picture.pixelHeight, 3);
  EXPECT_EQ(p.runs[0].picture.widthTwips, 0);
  EXPECT_EQ(p.runs[1].picture.data, (std::vector<uint8_t>{'{', '}', '\\', 0, 0x89, 'x'}));
  EXPECT_EQ(p.runs[2].text, "after");
}

TEST(RtfReader, UnknownGroupsAndDestinations) {
  EXPECT_EQ(Read("{\\rtf1 {\\unknownword kept}{\\*\\unknowndest dropped {nested}}x"
                 "{\\*\\listtable{\\list{\\listlevel{\\leveltext \\'02\\'00.;}}}}"
                 "{\\listtext 1.\\tab}item}").PlainText(),
            "keptx1.\titem");
  // Control words with huge or odd parameters do no harm.
  EXPECT_EQ(Read("{\\rtf1 \\fs99999999999\\f-5\\cf77 \\u99999999?a}").PlainText().back(), 'a');
  EXPECT_EQ(Read("{\\rtf1 \\uc999\\u65 abcdefghijklmnopqrstuvwxyz}").PlainText(), "Aqrstuvwxyz");
}

TEST(RtfReader, EmptyInputIsAnEmptyDocument) {
  Document doc;
  doc.paragraphs.resize(2);
  ASSERT_TRUE(ReadRtf(" \r\n", doc));
  EXPECT_EQ(doc, Document{});
  EXPECT_TRUE(Read("{\\rtf1}").IsEmpty());
}

TEST(RtfReader, StarredFieldResultsAndRaisedOrLoweredText) {
  // AbiWord stars its field results; the result is the field's text all the same.
  EXPECT_EQ(Read("{\\rtf1 A {\\field{\\*\\fldinst HYPERLINK \"http://example.org/\"}{\\*\\fldrslt hyperlink}} here.}")
                .PlainText(),
            "A hyperlink here.");
  Document doc = Read("{\\rtf1 Dear {\\field{\\*\\fldinst MERGEFIELD RECIPIENT}{\\*\\fldrslt {\\b [RECIPIENT]}}},}");
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  ASSERT_EQ(doc.paragraphs[0].runs.size(), 3u);
  EXPECT_EQ(doc.paragraphs[0].runs[1].field, (MergeField{1, "[RECIPIENT]"}));
  EXPECT_TRUE(doc.paragraphs[0].runs[1].format.bold);

  // LibreOffice raises and lowers text by half points; \up0 and \dn0 are the base line.
  doc = Read("{\\rtf1 x{\\up6 2} H{\\dn4 2}O {\\up9 a\\up0 b}{\\dn c}}");
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  const std::vector<std::pair<std::string, VerticalAlign>> expected = {
      {"x", VerticalAlign::Normal},      {"2", VerticalAlign::Superscript}, {" H", VerticalAlign::Normal},
      {"2", VerticalAlign::Subscript},   {"O ", VerticalAlign::Normal},     {"a", VerticalAlign::Superscript},
      {"b", VerticalAlign::Normal},      {"c", VerticalAlign::Subscript}};
  ASSERT_EQ(doc.paragraphs[0].runs.size(), expected.size()) << doc.PlainText();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(doc.paragraphs[0].runs[i].text, expected[i].first) << i;
    EXPECT_EQ(doc.paragraphs[0].runs[i].format.verticalAlign, expected[i].second) << i;
  }
}
