// Printer error messages, Serbian and English. Texts are shown to the
// operator verbatim, so they keep the device vendor's wording and typos.
#include <stdexcept>

#include "comportzuv.h"

namespace zuv {

namespace {

struct ErrorText {
  int32_t code;
  const char* srb;
  const char* gbr;
};

// Ascending by code; both languages share one key set.
const ErrorText kErrorTexts[] = {
    {-5, "Greška COM porta",
     "Error occured on COM port"},
    {-2, "NACK neispravan paket",
     "NACK incorrect package"},
    {-1, "Nema odgovora od fiskalnog uređaja",
     "No response from fiscal device"},
    {10, "Artikal sa zadatim kodom i barkodom već postoji.",
     "Item with same code and barcode already exists"},
    {11, "Zadati kod artikla nije validan.",
     "Item code not valid"},
    {12, "Zadata cena artikla nije validna.",
     "Item price not valid"},
    {13, "Zadato odeljenje nije validno. (ne postoji kod štampača)",
     "Assigned department not valid. (does not exist in printer base)"},
    {14, "Zadata poreska stopa nije validna.",
     "Tax rate not valid"},
    {15, "Zadata jedinica mere nije validna.",
     "Assigned unit of measurement not valid."},
    {16, "Kod ili barkod artikla nije validan.(ne postoji kod štampača)",
     "Item code or barcode not valid.(does not exist in printer base)"},
    {17, "Barkod artikla nije validan.(ne postoji kod štampača)",
     "Item barcode not valid.(does not exist in printer base)"},
    {18, "Nepostojeći artikal.",
     "Missing article."},
    {19, "Baza artikala je puna.",
     "Item base is full."},
    {20, "Opis (naziv artikla) je prazan",
     "Item (item name) description empty"},
    {21, "Neadekvatna vrednost. (univerzalna poruka za poslate vrednosti)",
     "Invalid value. (universal message for entered values)"},
    {22, "Nedefinisana vrednost. (univerzalna poruka za čitanje vrednosti)",
     "Value not defined. (universal message for reading values)"},
    {23, "Vrednost je ista. (univerzalna poruka za programiranje vrednosti)",
     "Value identical. (universal message for programming values)"},
    {24, "Vrednost je obrisana. (univerzalna poruka kod čitanja vrednosti)",
     "Value deleted. (universal message for reading values)"},
    {25, "Test je uspešan.",
     "Test successful."},
    {26, "Vrednost je predhodno već definisana. (univerzalna poruka za poslate vrednosti)",
     "Value already defined. (universal message for entered values)"},
    {27, "Šifra postoji.",
     "Code already exits."},
    {28, "Vrednost se ne može promeniti. (univerzalna poruka za poslate vrednosti)",
     "Value cannot be changed. (universal message for entered values)"},
    {31, "Započet fiskalni račun.",
     "Fiscal receipt already started."},
    {32, "Započet fiskalni dan.",
     "Fiscal day already started."},
    {33, "Neadekvatna količina kod prodaje artikla.",
     "Invalid quantity for item sale."},
    {34, "Mora se zatvoriti fiskalni račun.",
     "Fiscal receipt must be closed."},
    {35, "Poreska stopa nije definisana. Artikal ima nedefinisanu poresku stopu.",
     "Tax rate not defined. Item has an undefined tax rate."},
    {36, "Fiskalna vrednost je premala. Obračunati porez na zadatu cenu i količinu je nula. ",
     "Fiscal value too low. Calculated tax for the assigned price and quantity is zero."},
    {37, "Fiskalna vrednost je prevelika. Obrčunata vrednost za cenu i količinu izlazi iz opsega.",
     "Fiscal value too high. Calculated tax for the assigned price and quantity is beyond range."},
    {38, "Nije započet račun.",
     "Receipt not started."},
    {39, "Mora se uraditi dnevni izveštaj.",
     "Daily report must be completed."},
    {42, "Slika je već definisana.(ne postoji kod štampača)",
     "Image already defined.(does not exist in printer base)"},
    {43, "Baza je prazna.",
     "Database empty."},
    {44, "Uređaj je zauzet. Morate pokušati kasnije.",
     "Device already in use. Please try again."},
    {65, "Podignuta glava štampača.",
     "Printer head raised."},
    {66, "Mali broj preostalih reseta.",
     "Remaining reset number low."},
    {67, "Mali broj preostalih promena poreskih stopa.",
     "Remaining tax rate reset number low."},
    {68, "Mali broj preostalih dnevnih izvestaja.",
     "Remaining daily report number low."},
    {69, "Vreme je da se odradi sledeći tehnički pregled.",
     "Time to perform next technical inspection."},
    {75, "Jumper nije prisutan.",
     "Jumper not present."},
    {76, "Vreme se ne može podesiti.",
     "Not able to set time."},
    {77, "Pogrešno vreme.",
     "Invalid set time."},
    {78, "Jumper je prisutan.",
     "Jumper present."},
    {79, "Šifra već postoji.",
     "Code already exists."},
    {80, "Morate se ulogovati.",
     "Please log in."},
    {81, "Nemate odobrenje.",
     "You are not authorised to perform this action."},
    {82, "Ne postoji podkomanda.",
     "Invalid subcommand."},
    {83, "Uređaj ne podržava traženu opciju.",
     "Option not supported."},
    {97, "Greška kod evidencije protoka novca.",
     "Money flow log error."},
    {99, "Storniranje nije završeno.",
     "Cancelation in progress."},
    {100, "Kasa je zauzeta.",
     "Cash register busy."},
    {101, "Dužina komande nije adekvatna.",
     "Invalid command length."},
    {102, "Nepostojeća komanda.",
     "Command missing."},
    {103, "Komanda se ne može izvršiti.",
     "Command cannot be performed."},
    {104, "Poslednji artikal u bazi.",
     "Last item in the database."},
    {217, "Glava štampača je pregrejana.",
     "Printer head overheated."},
    {218, "Štampač nema više papira.",
     "Printer out of paper."},
    {219, "Podignuta glava štampača.",
     "Printer head raised."},
    {220, "Greška u memoriji.",
     "Memory error."},
    {221, "Fiskalna memorija je puna.",
     "Fiscal memory full."},
    {222, "Greška u fiskalnoj memoriji.",
     "Fiscal memory error."},
    {223, "Fiskalna memorija je fiskalizovana.",
     "Fiscal memory not fiscalized."},
    {224, "PIB fiskalne memorije nije validan.",
     "Fiscal memory VAT number not valid."},
    {225, "Greška u displeju.",
     "Display error."},
    {226, "Greška u tastaturi.",
     "Keyboard error."},
    {227, "Greška u modemu.",
     "Modem error."},
    {228, "Modem nije prisutan.",
     "Modem not present."},
    {229, "Modem je zauzet",
     "Modem busy."},
    {230, "Modem je u radnom režimu.",
     "Modem in operating mode."},
    {235, "Mora se izvršiti reset.",
     "Reset must be performed."},
};

}  // namespace

void TComPortZUV::ErrorTableK3RTinit(const std::string& recnik) {
  auto table = std::make_unique<std::map<int32_t, std::string>>();
  // Exact match only: "srb" or "SRB " leave the table empty on purpose.
  const bool srb = recnik == "SRB";
  const bool gbr = !srb && recnik == "GBR";
  if (srb || gbr) {
    for (const ErrorText& e : kErrorTexts) table->emplace(e.code, srb ? e.srb : e.gbr);
  }
  ErrorTableK3RT = std::move(table);
}

bool TComPortZUV::HasErrorMessage(int32_t code) {
  return ErrorTableK3RT && ErrorTableK3RT->count(code) != 0;
}

std::string TComPortZUV::ErrorMessage(int32_t code) {
  if (!ErrorTableK3RT) throw std::out_of_range("error table not initialised");
  return ErrorTableK3RT->at(code);
}

}  // namespace zuv
