// The buttons that run one printer command and log its outcome.
#include <QDateEdit>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "driver/comportzuv.h"

namespace app {

namespace {

using zuv::TFiscal;

// Days since 1899-12-30, the driver's date-time.
double ToDateTime(const QDate& date) { return double(QDate(1899, 12, 30).daysTo(date)); }

QString Outcome(bool ok, const char* success, const char* failure) {
  return QString::fromUtf8(ok ? success : failure);
}

}  // namespace

void TfrmExample::Button2Click() {
  const std::string time = TFiscal::CitajVreme();
  AddLine(time.empty() ? QStringLiteral("* Citanje vremena nije uspelo")
                       : QString::fromStdString(time));
}

void TfrmExample::Button3Click() {
  const std::u16string id = TFiscal::CitajIBFM();
  AddLine(id.empty() ? QStringLiteral("* Citanje IBFM nije uspelo")
                     : QString::fromStdU16String(id));
}

void TfrmExample::Button4Click() {
  const int32_t bi = TFiscal::CitajBI();
  AddLine(bi == -1 ? QStringLiteral("* Citanje BI nije uspelo") : QString::number(bi));
}

void TfrmExample::Button20Click() {
  const int32_t bd = TFiscal::CitajBD();
  AddLine(bd == -1 ? QStringLiteral("* Citanje BD nije uspelo") : QString::number(bd));
}

void TfrmExample::Button7Click() {
  AddLine(Outcome(TFiscal::PresekStanja(), "# Presek stanja uspesno odstampan",
                  "* Presek stanja nije uspeo"));
}

void TfrmExample::Button8Click() {
  const bool ok = TFiscal::PeriodicniIzvestaj(ToDateTime(DateTimePicker1->date()),
                                              ToDateTime(DateTimePicker2->date()));
  AddLine(Outcome(ok, "# Periodicni izvestaj je uspesno odstampan",
                  "* Periodicni izvestaj nije uspeo"));
}

void TfrmExample::Button9Click() {
  if (!Dialogs().Confirm(this, QStringLiteral("Da li zelite odstampati dnevni izvestaj?"))) return;
  AddLine(Outcome(TFiscal::DnevniIzvestaj(), "# Dnevni izvestaj uspesno odstampan",
                  "* Dnevni izvestaj nije uspeo"));
}

void TfrmExample::Button11Click() {
  AddLine(Outcome(TFiscal::PromenaCene(2, 2.98), "# Uspesno promenjena cena artikla",
                  "* Neuspesna promena cene"));
}

void TfrmExample::Button12Click() {
  AddLine(Outcome(TFiscal::BrisanjeBaze(), "# Baza uspesno obrisana",
                  "* Baza se ne moze obrisati!"));
}

void TfrmExample::Button15Click() {
  AddLine(Outcome(TFiscal::StornoCeoRacun(), "# Racun uspesno storiran.",
                  "* Neuspelo storniranje racuna!"));
}

void TfrmExample::Button16Click() {
  AddLine(Outcome(TFiscal::AutomatskiZatvoriRacun(), "# Racun uspesno zatvoren.",
                  "* Neuspelo zatvaranje racuna!"));
}

void TfrmExample::Button17Click() {
  const int32_t count = TFiscal::StanjeRacunaBrojStavki();
  AddLine(count >= 0 ? QStringLiteral("# Broj stavki na otvorenom racunu: ") + QString::number(count)
                     : QStringLiteral("* Neuspelo citanje stanja racuna - broj stavki!"));
}

// The next three log nothing, whatever the printer answers.
void TfrmExample::Button21Click() { TFiscal::ZvucniSignal(); }

void TfrmExample::Button22Click() { TFiscal::TrakuPomeri(); }

void TfrmExample::Button23Click() { TFiscal::TrakuSeci(); }

}  // namespace app
