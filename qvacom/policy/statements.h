// The statement texts of the nine named sets, one family of tables of the same shape: Name, one
// value column (two for threats: Threat and Level) and Remarks, all text. Each text is a printf
// format for sql::Format, kept byte for byte as the product has always sent it (tabs, spacing and
// letter case included); every value goes through sql::Escape.
//
// Values in order: SELECT none; INSERT Name, the value column(s), Remarks; UPDATE the same, then
// Name again for the WHERE clause; DELETE Name (every row of that name, since names may repeat).
// Every INSERT has six tabs before VALUES.
#pragma once

#include <array>
#include <cstddef>

namespace qva {

struct NamedSetStatements {
  // Positions in kNamedSets.
  enum Index : std::size_t {
    kApplications,
    kCategories,
    kDestAddrs,
    kFileTypes,
    kPorts,
    kProtocols,
    kRules,
    kSignatures,
    kThreats,
  };

  const char* table;
  // The value columns as the rows name them; the second is null except for threats.
  std::array<const char*, 2> value_columns;
  const char* select;  // the load, ordered by Name
  const char* insert;  // Save(true)
  const char* update;  // Save(false), keyed by the entry's current Name
  const char* remove;  // Clear
};

inline constexpr std::array<NamedSetStatements, 9> kNamedSets{{
    {
        .table = "Appset",
        .value_columns = {"App", nullptr},
        // "AppSet" in the SELECT and DELETE, "Appset" in the INSERT and UPDATE: the database
        // matches table names without regard to case.
        .select = "Select * From AppSet Order By Name",
        .insert = "INSERT INTO Appset(Name, App, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Appset SET Name='%s', App='%s', Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM AppSet WHERE Name = '%s'",
    },
    {
        .table = "Categoryset",
        .value_columns = {"Category", nullptr},
        .select = "Select * From Categoryset Order By Name",
        .insert = "INSERT INTO Categoryset(Name, Category, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Categoryset SET Name='%s', Category='%s' , Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Categoryset WHERE Name = '%s'",
    },
    {
        .table = "DestAddrset",
        .value_columns = {"DestAddr", nullptr},
        .select = "Select * From DestAddrset Order By Name",
        .insert = "INSERT INTO DestAddrset(Name, DestAddr, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE DestAddrset SET Name='%s', DestAddr='%s' , Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM DestAddrset WHERE Name = '%s'",
    },
    {
        .table = "FileTypeset",
        .value_columns = {"FileType", nullptr},
        .select = "Select * From FileTypeset Order By Name",
        .insert = "INSERT INTO FileTypeset(Name, FileType, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE FileTypeset SET Name='%s', FileType='%s' , Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM FileTypeset WHERE Name = '%s'",
    },
    {
        .table = "Portset",
        .value_columns = {"Port", nullptr},
        .select = "Select * From Portset Order By Name",
        .insert = "INSERT INTO Portset(Name, Port, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Portset SET Name='%s', Port='%s', Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Portset WHERE Name = '%s'",
    },
    {
        .table = "Protocolset",
        .value_columns = {"Protocol", nullptr},
        .select = "Select * From Protocolset Order By Name",
        .insert = "INSERT INTO Protocolset(Name, Protocol, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Protocolset SET Name='%s', Protocol='%s' , Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Protocolset WHERE Name = '%s'",
    },
    {
        .table = "Ruleset",
        // A reserved word: the statements write it [Rule].
        .value_columns = {"Rule", nullptr},
        .select = "Select * From Ruleset Order By Name",
        .insert = "INSERT INTO Ruleset(Name, [Rule], Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Ruleset SET Name='%s', [Rule]='%s' , Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Ruleset WHERE Name = '%s'",
    },
    {
        .table = "Signatureset",
        .value_columns = {"Signature", nullptr},
        .select = "Select * From Signatureset Order By Name",
        .insert = "INSERT INTO Signatureset(Name, Signature, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s')",
        .update = "UPDATE Signatureset SET Name='%s', Signature='%s', Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Signatureset WHERE Name = '%s'",
    },
    {
        .table = "Threatset",
        .value_columns = {"Threat", "Level"},
        .select = "Select * From Threatset Order By Name",
        .insert = "INSERT INTO Threatset(Name, Threat, Level, Remarks)\t\t\t\t\t\tVALUES('%s','%s','%s','%s')",
        .update = "UPDATE Threatset SET Name='%s', Threat='%s', Level='%s', Remarks='%s' WHERE Name = '%s'",
        .remove = "Delete FROM Threatset WHERE Name = '%s'",
    },
}};

}  // namespace qva
