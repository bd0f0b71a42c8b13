// The buttons that build sample data, compose several commands or open
// another window.
#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>

#include "app/data_module.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/split_str.h"
#include "app/time_window.h"
#include "driver/comportzuv.h"
#include "driver/hex.h"

namespace app {

namespace {

using zuv::TComPortZUV;
using zuv::TFiscal;
using zuv::TNonfiscalLine;

constexpr int kSampleArticles = 500;
constexpr int kArticlesPerPacket = 10;

std::u16string U16(const QString& text) { return text.toStdU16String(); }

std::u16string Dashes() { return std::u16string(PrintheadSize, u'-'); }

TNonfiscalLine Line(const QString& text, int32_t align, bool bold) {
  return TNonfiscalLine(U16(text), align, bold, u"", u"");
}

// The platform's short date and long time, without a time-zone name.
QString NowText() {
  const QLocale locale;
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QLatin1Char('t'));
  const QDateTime now = QDateTime::currentDateTime();
  return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(now.time(), timeFormat.trimmed());
}

std::vector<TNonfiscalLine> SampleOrderLines() {
  std::vector<TNonfiscalLine> lines;
  const QString dashes = QString(PrintheadSize, QLatin1Char('-'));
  lines.push_back(Line(dashes, 0, true));
  lines.push_back(Line(QStringLiteral("Test Firma d.o.o."), 0, true));
  lines.push_back(Line(dashes, 0, true));
  lines.push_back(Line(QStringLiteral("PORUDŽBINA br.: ") +
                           QString::number(QRandomGenerator::global()->bounded(1000)),
                       -1, true));
  lines.push_back(Line(QStringLiteral("Lokal 001"), -1, false));
  lines.push_back(Line(QString(), 0, false));
  lines.push_back(TNonfiscalLine(u"", 2, true, u"Artikli", u" Iznos"));
  for (int k = 1; k <= 8; ++k) {
    lines.push_back(Line(QStringLiteral("Artikal ") + QString::number(k), -1, false));
    lines.push_back(Line(QStringLiteral("2.000 x 350.00"), 1, false));
  }
  lines.push_back(Line(QStringLiteral("UKUPNO: 2236.00"), 1, true));
  lines.push_back(Line(dashes, 0, true));
  lines.push_back(Line(QStringLiteral("PLAĆANJE SE VRŠI"), 0, false));
  lines.push_back(Line(QStringLiteral("NA OSNOVU"), 0, false));
  lines.push_back(Line(QStringLiteral("FISKALNOG RAČUNA"), 0, false));
  lines.push_back(Line(NowText(), 0, false));
  return lines;
}

// The sample rows, each inserted in front of the one before.
void FillSampleTable(zuv::TLineTable& table) {
  const std::u16string s40 = u"123456789-123456789-123456789-ABCDEFGHI-";
  using T = std::u16string;
  table.Insert({T(u"Prva linija"), -1, true});
  table.Insert({T(u"Druga linija"), 0, true});
  table.Insert({T(u"Treca linija"), 1, true});
  table.Insert({T(), 2, false, T(u"levo"), T(u"desno")});
  table.Insert({s40, -1, true});
  table.Insert({s40, 0, true});
  table.Insert({s40, 1, true});
  table.Insert({T(), 2, false, T(u"LEVO5"), s40});
  table.Insert({Dashes(), -1});
  table.Insert({T(u"10"), -1});
  table.Insert({T(), -1, true});
  table.Insert({T(), 0, true});
  table.Insert({T(), 1, true});
  table.Insert({T(u"kraj"), 0});
}

// Shortest general form, up to 15 significant digits, the platform's
// decimal separator.
QString Amount(double value) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale.toString(value, 'g', 15);
}

}  // namespace

void TfrmExample::Button10Click() {
  int batch = 1;
  for (int code = 1; code <= kSampleArticles; ++code) {
    TFiscal::DodajArtikal(code, u"Тест артикал " + U16(QString::number(code)), 0, 3, 1.0);
    if (zuv::DebugMode) AddLine(QStringLiteral("Artikal ") + QString::number(code));
    if (batch == kArticlesPerPacket) {
      if (!TFiscal::ProgramirajArtikle()) {
        AddLine(QStringLiteral("* Neuspesno programiranje artikala. Stop: ") +
                QString::number(code));
        return;
      }
      if (zuv::DebugMode) AddLine(QStringLiteral("  >> programiraj ") + QString::number(batch));
      batch = 1;
    } else {
      ++batch;
    }
  }
  AddLine(QStringLiteral("  >> programiraj poslednji paket"));
  if (zuv::bufferArtikala && !zuv::bufferArtikala->empty()) TFiscal::ProgramirajArtikle();
  AddLine(QStringLiteral("# Programiranje atrikala zavrseno"));
}

void TfrmExample::Button13Click() {
  if (!TFiscal::NefiskalniIsecak(SampleOrderLines(), PrintheadSize))
    AddLine(QStringLiteral("* Neuspelo stampanje nefiskalnog isecka!"));
}

void TfrmExample::Button27Click() {
  if (!ComP_ZUV) throw std::logic_error("The data module does not exist");
  zuv::TLineTable& table = ComP_ZUV->cdsNefiskalni;
  try {
    FillSampleTable(table);
    if (!TFiscal::NefiskalniIsecakEPSON(PrintheadSize))
      AddLine(QStringLiteral("* Neuspelo stampanje nefiskalnog isecka!"));
  } catch (...) {
    table.EmptyTable();
    throw;
  }
  table.EmptyTable();
}

void TfrmExample::Button19Click() {
  const zuv::TStanjeRacuna s = TFiscal::StanjeRacuna();
  if (!s.UspesanOdgovor) {
    AddLine(QStringLiteral("* Neuspelo citanje stanja racuna!"));
    return;
  }
  AddLine(QStringLiteral("# MEDJUZBIR:       ") + Amount(s.MEDJUZBIR));
  AddLine(QStringLiteral("# UKUPNO:            ") + Amount(s.UKUPNO));
  AddLine(QStringLiteral("# BROJ_STAVKI:    ") + QString::number(s.BROJ_STAVKI));
  AddLine(QStringLiteral("# PLACENO_GOTOVINA : ") + Amount(s.PLACENO_GOTOVINA));
  AddLine(QStringLiteral("# PLACENO_KARTICA    : ") + Amount(s.PLACENO_KARTICA));
  AddLine(QStringLiteral("# PLACENO_CEK            : ") + Amount(s.PLACENO_CEK));
  AddLine(QStringLiteral("# BROJ_RACUNA: ") + QString::number(s.BROJ_RACUNA));
}

void TfrmExample::Button14Click() {
  if (!Dialogs().Confirm(this, QStringLiteral("Otvaranje racuna!"))) return;
  for (;;) {
    const QString answer = Dialogs().InputBox(
        this, QStringLiteral("PRODAJA"),
        QStringLiteral("Za nastavak ostaviti prazno\r\nUnesi SIFRA,KOLICINA (35,1):"), QString());
    if (SplitStr(answer, QStringLiteral(",")).size() == 2) AddLine(QStringLiteral("# ") + answer);
    if (answer.isEmpty()) break;
  }
  if (!Dialogs().Confirm(this, QStringLiteral("Naplata!"))) return;
  AddLine(TFiscal::NaplataRacuna(0, 100.0) ? QStringLiteral("# Naplata gotovinom uspesna.")
                                           : QStringLiteral("* Naplata gotovinom neuspesna!"));
}

void TfrmExample::Button26Click() {
  const QString text = Dialogs().InputBox(this, QStringLiteral("Test za ZUV tabelu karaktera"),
                                          QStringLiteral("Uneti tekst:"),
                                          QStringLiteral("АаБбВвГгДдЂђЕеЖжЗзИиЈјКкЛлЉљМм12"));
  const std::vector<uint8_t> bytes = TComPortZUV::StringToZUVbytes(U16(text));
  const std::string dump = zuv::ByteArrayToHEX(bytes.data(), bytes.size(), 0) + "\r\n";
  QString characters;
  for (const QChar c : QString::fromStdU16String(TComPortZUV::ZUVbytesToString(bytes)))
    characters += QStringLiteral("   ") + c;
  AddLine(QString::fromStdString(dump) + characters);
}

void TfrmExample::Button18Click() {
  TForm1 form(this);
  Dialogs().ShowModal(form);
  AddLine(QStringLiteral("# ok"));
}

}  // namespace app
