// The statement texts of the account tables: users, departments, groups, computers, the four fee
// tables and the limit-IP ranges. Each text is a printf format for sql::Format, kept byte for byte
// as the product has always sent it (tabs, spacing and letter case included): the same text goes
// to the embedded database and to SQL Server.
//
// Filling them: every '%s' text value goes through sql::Escape; dates in quotes are
// sql::FormatDate(d, sql::kDateFormat); doubles written with %f are sql::Round2-ed by the account
// objects (fee amounts are not). A bare %s date (users' and computers' LastTime, the fee tables'
// [Date]) is the database's Delimiter + sql::FormatDate(d, sql::kDateTimeFormat) + Delimiter.
// Values follow the column list of the statement; an UPDATE takes its SET values in order, then
// the WHERE values.
//
// The members are const char*: GCC checks the arguments of an sql::Format call that names a
// constant's member directly (kUserStatements.insert) against its text. A null member: the entity
// has no such statement.
#pragma once

#include <array>

namespace qva {

struct EntityStatements {
  const char* table;
  const char* select;  // the collection's load, opened as a recordset
  const char* reload;  // the refresh of held objects
  const char* insert;  // Save(true)
  const char* update;  // Save(false)
  const char* remove;  // Clear
};

inline constexpr EntityStatements kUserStatements{
    .table = "Users",
    // Ordered by FullName, not by the key.
    .select = "Select * From Users Order by FullName",
    .reload = "Select * From Users",
    // Dirty comes before LimitIP here, though the load reads LimitIP first.
    .insert =
        "INSERT INTO Users(Name, FullName, Dep, [Domain], RDN, AdsPath, Remarks, Enable, EnableDate, Auth, UserType, "
        "LastTime, Dirty, LimitIP, AutoResume, ResumeTime, CurIP, LimitType, ResetDate, ResetDate2, TimeLimit, "
        "TimeLeft, TimeQuotaPeriod, BytesLimit, BytesLeft, BytesQuotaPeriod, AllTimeLimit, AllTimeLeft, AllTimeFrom, "
        "AllBytesLimit, AllBytesLeft, AllBytesFrom, DateLimit, CheckFee, FeeLimit, FeeLeft, FeeStop, FeeOption, "
        "FeeByOutBytes, FeeByAllBytes, FeeByTime)\t\t\t\t\t\tVALUES('%s','%s','%s','%s','%s','%s','%s',%d,'%s',%d,%d,"
        "%s,%d,%d,%d,%d,'%s',%d,'%s','%s',%f,%f,%d,%f,%f,%d,%f,%f,'%s',%f,%f,'%s','%s',%d,%f,%f,%f,%d,%f,%f,%f)",
    .update =
        "UPDATE Users SET Name='%s', FullName='%s' , Dep='%s', [Domain]='%s', RDN='%s', AdsPath='%s',Remarks='%s', "
        "Enable=%d, EnableDate='%s', Auth=%d, UserType=%d,LastTime=%s, Dirty=%d, LimitIP=%d, AutoResume=%d, "
        "ResumeTime=%d, CurIP='%s', LimitType=%d, ResetDate='%s', ResetDate2='%s', TimeLimit=%f, TimeLeft=%f, "
        "TimeQuotaPeriod=%d, BytesLimit=%f, BytesLeft=%f, BytesQuotaPeriod=%d, AllTimeLimit=%f,\tAllTimeLeft=%f, "
        "AllTimeFrom='%s', AllBytesLimit=%f, AllBytesLeft=%f, AllBytesFrom='%s', DateLimit='%s',\tCheckFee=%d, "
        "FeeLimit=%f, FeeLeft=%f, FeeStop=%f, FeeOption=%d, FeeByOutBytes=%f, FeeByAllBytes=%f,FeeByTime=%f WHERE "
        "Name = '%s'",
    .remove = "Delete FROM Users WHERE Name = '%s'",
};

inline constexpr EntityStatements kDepStatements{
    .table = "Deps",
    .select = "SELECT * FROM Deps ORDER BY Name",
    .reload = "SELECT * FROM Deps",
    // Auth stands in quotes ('%d'); AdsType and AdsPath are written here only.
    .insert =
        "INSERT INTO Deps(Name, AdsType, AdsPath, Remarks, Enable, EnableDate, Auth, Dirty, LimitType, ResetDate, "
        "ResetDate2, TimeLimit, TimeLeft, TimeQuotaPeriod, BytesLimit, BytesLeft, BytesQuotaPeriod, AllTimeLimit, "
        "AllTimeLeft, AllTimeFrom, AllBytesLimit, AllBytesLeft, AllBytesFrom, DateLimit, LimitTypeDefault, "
        "TimeLimitDefault, TimeQuotaPeriodDefault, BytesLimitDefault, BytesQuotaPeriodDefault, AllTimeLimitDefault, "
        "AllTimeFromDefault, AllBytesLimitDefault, AllBytesFromDefault, DateLimitDefault, CheckFee, FeeLimit, "
        "FeeLeft, FeeStop, FeeOption, FeeByOutBytes, FeeByAllBytes, FeeByTime)\t\t\t\t\t\tVALUES('%s', %d, '%s', "
        "'%s', %d, '%s', '%d', %d, %d, '%s', '%s', %f, %f, %d, %f, %f, %d, %f, %f, '%s', %f, %f, '%s', '%s', %d, %f, "
        "%d, %f, %d, %f, '%s', %f, '%s', '%s', %d, %f, %f, %f, %d, %f, %f, %f)",
    // Leaves AdsType and AdsPath as they are stored.
    .update =
        "UPDATE Deps SET Name='%s', Remarks='%s', Enable=%d, EnableDate='%s', Auth=%d, Dirty=%d, LimitType=%d, "
        "ResetDate='%s', ResetDate2='%s', TimeLimit=%f, TimeLeft=%f, TimeQuotaPeriod=%d, BytesLimit=%f, "
        "BytesLeft=%f, BytesQuotaPeriod=%d, AllTimeLimit=%f,AllTimeLeft=%f, AllTimeFrom='%s', AllBytesLimit=%f, "
        "AllBytesLeft=%f, AllBytesFrom='%s', DateLimit='%s', LimitTypeDefault=%d, TimeLimitDefault=%f, "
        "TimeQuotaPeriodDefault=%d, BytesLimitDefault=%f, BytesQuotaPeriodDefault=%d, AllTimeLimitDefault=%f, "
        "AllTimeFromDefault='%s', AllBytesLimitDefault=%f, AllBytesFromDefault='%s', DateLimitDefault='%s', "
        "CheckFee=%d, FeeLimit=%f, FeeLeft=%f, FeeStop=%f, FeeOption=%d, FeeByOutBytes=%f, FeeByAllBytes=%f,"
        "FeeByTime=%f WHERE Name = '%s'",
    .remove = "Delete FROM Deps WHERE Name = '%s'",
};

inline constexpr EntityStatements kGroupStatements{
    .table = "Groups",
    .select = "SELECT * FROM Groups ORDER BY Name",
    .reload = "SELECT * FROM Groups",
    // Auth stands in quotes ('%d'); AdsType and AdsPath are written here only.
    .insert =
        "INSERT INTO Groups(Name, AdsType, AdsPath, Remarks, Enable, EnableDate, Auth, Dirty, LimitType, ResetDate, "
        "ResetDate2, TimeLimit, TimeLeft, TimeQuotaPeriod, BytesLimit, BytesLeft, BytesQuotaPeriod, AllTimeLimit, "
        "AllTimeLeft, AllTimeFrom, AllBytesLimit, AllBytesLeft, AllBytesFrom, DateLimit, LimitTypeDefault, "
        "TimeLimitDefault, TimeQuotaPeriodDefault, BytesLimitDefault, BytesQuotaPeriodDefault, AllTimeLimitDefault, "
        "AllTimeFromDefault, AllBytesLimitDefault, AllBytesFromDefault, DateLimitDefault, CheckFee, FeeLimit, "
        "FeeLeft, FeeStop, FeeOption, FeeByOutBytes, FeeByAllBytes, FeeByTime)\t\t\t\t\t\tVALUES('%s', %d, '%s', "
        "'%s', %d, '%s', '%d', %d, %d, '%s', '%s', %f, %f, %d, %f, %f, %d, %f, %f, '%s', %f, %f, '%s', '%s', %d, %f, "
        "%d, %f, %d, %f, '%s', %f, '%s', '%s', %d, %f, %f, %f, %d, %f, %f, %f)",
    // Leaves AdsType and AdsPath as they are stored.
    .update =
        "UPDATE Groups SET Name='%s', Remarks='%s', Enable=%d, EnableDate='%s', Auth=%d, Dirty=%d, LimitType=%d, "
        "ResetDate='%s', ResetDate2='%s', TimeLimit=%f, TimeLeft=%f, TimeQuotaPeriod=%d, BytesLimit=%f, "
        "BytesLeft=%f, BytesQuotaPeriod=%d, AllTimeLimit=%f, AllTimeLeft=%f, AllTimeFrom='%s', AllBytesLimit=%f, "
        "AllBytesLeft=%f, AllBytesFrom='%s', DateLimit='%s',LimitTypeDefault=%d, TimeLimitDefault=%f, "
        "TimeQuotaPeriodDefault=%d, BytesLimitDefault=%f, BytesQuotaPeriodDefault=%d, AllTimeLimitDefault=%f, "
        "AllTimeFromDefault='%s', AllBytesLimitDefault=%f, AllBytesFromDefault='%s', DateLimitDefault='%s', "
        "CheckFee=%d, FeeLimit=%f, FeeLeft=%f, FeeStop=%f, FeeOption=%d, FeeByOutBytes=%f, FeeByAllBytes=%f,"
        "FeeByTime=%f WHERE Name = '%s'",
    .remove = "Delete FROM Groups WHERE Name = '%s'",
};

inline constexpr EntityStatements kComputerStatements{
    .table = "Computers",
    // Not a statement: the bare table name, read whole in the table's own order (no ORDER BY).
    .select = "Computers",
    // The same table name; the reload matches rows to computers by Name, not by IP.
    .reload = "Computers",
    .insert =
        "INSERT INTO Computers(Name, IP, [Group], Remarks, Enable, EnableDate, Auth, LastTime, CurUser, Dirty, "
        "LimitType, ResetDate, ResetDate2, TimeLimit, TimeLeft, TimeQuotaPeriod, BytesLimit, BytesLeft, "
        "BytesQuotaPeriod, AllTimeLimit,\tAllTimeLeft, AllTimeFrom, AllBytesLimit, AllBytesLeft, AllBytesFrom, "
        "DateLimit,\tCheckFee, FeeLimit, FeeLeft, FeeStop, FeeOption, FeeByOutBytes, FeeByAllBytes,FeeByTime)"
        "\t\t\t\t\t\tVALUES('%s', '%s' , '%s', '%s', %d, '%s', %d, %s, '%s', %d, %d, '%s', '%s', %f, %f, %d, %f, %f, "
        "%d, %f,\t%f, '%s', %f, %f, '%s', '%s',%d, %f, %f, %f, %d, %f, %f,%f)",
    // Keyed by IP (the last value), not by Name.
    .update =
        "UPDATE Computers SET Name='%s', IP='%s' , [Group]='%s', Remarks='%s', Enable=%d, EnableDate='%s', Auth=%d, "
        "LastTime=%s, CurUser='%s', Dirty=%d, LimitType=%d, ResetDate='%s', ResetDate2='%s', TimeLimit=%f, "
        "TimeLeft=%f, TimeQuotaPeriod=%d, BytesLimit=%f, BytesLeft=%f, BytesQuotaPeriod=%d, AllTimeLimit=%f,"
        "\tAllTimeLeft=%f, AllTimeFrom='%s', AllBytesLimit=%f, AllBytesLeft=%f, AllBytesFrom='%s', DateLimit='%s',"
        "\tCheckFee=%d, FeeLimit=%f, FeeLeft=%f, FeeStop=%f, FeeOption=%d, FeeByOutBytes=%f, FeeByAllBytes=%f,"
        "FeeByTime=%f WHERE IP = '%s'",
    // Keyed by IP.
    .remove = "Delete FROM Computers WHERE IP = '%s'",
};

// One entry per fee type, indexed by its QvaFeeType value (user 0, department 1, computer 2,
// group 3). In every entry: the load is ordered by Date, not by Name; the INSERT has seven tabs
// and writes the amount in quotes ('%f'); the UPDATE takes Name, date, amount, then Name and date
// again, and finds its row by name and exact date and time; the DELETE removes every row of the
// name, not only one record's. There is no reload.
inline constexpr std::array<EntityStatements, 4> kFeeStatements{{
    {
        .table = "UserFee",
        .select = "SELECT * FROM UserFee ORDER BY Date",
        .reload = nullptr,
        .insert = "INSERT INTO UserFee (Name, [Date], FeeAdd) \t\t\t\t\t\t\tVALUES('%s', %s, '%f')",
        .update = "UPDATE UserFee SET Name='%s', [Date]=%s, FeeAdd='%f' WHERE Name = '%s' AND [Date] = %s",
        .remove = "Delete FROM UserFee WHERE Name = '%s'",
    },
    {
        .table = "DepFee",
        .select = "SELECT * FROM DepFee ORDER BY Date",
        .reload = nullptr,
        .insert = "INSERT INTO DepFee (Name, [Date], FeeAdd) \t\t\t\t\t\t\tVALUES('%s', %s, '%f')",
        .update = "UPDATE DepFee SET Name='%s', [Date]=%s, FeeAdd='%f' WHERE Name = '%s' AND [Date] = %s",
        .remove = "Delete FROM DepFee WHERE Name = '%s'",
    },
    {
        .table = "ComputerFee",
        .select = "SELECT * FROM ComputerFee ORDER BY Date",
        .reload = nullptr,
        .insert = "INSERT INTO ComputerFee (Name, [Date], FeeAdd) \t\t\t\t\t\t\tVALUES('%s', %s, '%f')",
        .update = "UPDATE ComputerFee SET Name='%s', [Date]=%s, FeeAdd='%f' WHERE Name = '%s' AND [Date] = %s",
        .remove = "Delete FROM ComputerFee WHERE Name = '%s'",
    },
    {
        .table = "GroupFee",
        .select = "SELECT * FROM GroupFee ORDER BY Date",
        .reload = nullptr,
        .insert = "INSERT INTO GroupFee (Name, [Date], FeeAdd) \t\t\t\t\t\t\tVALUES('%s', %s, '%f')",
        .update = "UPDATE GroupFee SET Name='%s', [Date]=%s, FeeAdd='%f' WHERE Name = '%s' AND [Date] = %s",
        .remove = "Delete FROM GroupFee WHERE Name = '%s'",
    },
}};

inline constexpr EntityStatements kLimitIPStatements{
    .table = "LimitIP",
    // Not a statement: the bare table name, read whole in the table's own order.
    .select = "LimitIP",
    .reload = nullptr,
    // Five tabs, and a blank before the column list.
    .insert = "INSERT INTO LimitIP (Name, StartIP, EndIP) \t\t\t\t\tVALUES('%s', '%s', '%s')",
    // A range is never updated in place: it is removed and added again.
    .update = nullptr,
    // Keyed by all three columns: one range of the name.
    .remove = "Delete FROM LimitIP WHERE Name='%s' AND StartIP='%s' AND EndIP='%s'",
};

}  // namespace qva
