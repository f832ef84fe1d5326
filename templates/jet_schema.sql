-- Schema of the embedded accounting database (the Vodrik.ntt template the build makes), in SQLite's
-- dialect: the same tables, columns and column order as the server schema of CreateDataBase
-- (qvacom/storage/server_schema.inc), so the account and event statements run unchanged on both.
--
-- - Declared types keep the server's type names (int, smallint, bigint, float, nvarchar(N),
--   smalldatetime, datetime): the storage layer types every field by its declared column type.
-- - Chinese_PRC_CI_AS is not built into SQLite: whoever runs this script or opens the file must
--   register a collation of that name first (case-insensitive, accent-sensitive), or SQLite
--   refuses the statements that name it.
-- - The identity keys of Users and Deps are INTEGER PRIMARY KEY AUTOINCREMENT, so ids start at 1,
--   rise by 1 and are never reused, as IDENTITY (1, 1) behaves on the server.
-- - "Group" is quoted because it is a keyword in SQLite.

CREATE TABLE Computers (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  IP nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  "Group" nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  LastTime smalldatetime,
  CurUser nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Enable int,
  EnableDate smalldatetime,
  Auth smallint,
  Dirty int,
  LimitType smallint,
  ResetDate smalldatetime,
  ResetDate2 smalldatetime,
  TimeLimit float,
  TimeLeft float,
  TimeQuotaPeriod int,
  BytesLimit float,
  BytesLeft float,
  BytesQuotaPeriod int,
  AllBytesLimit float,
  AllBytesLeft float,
  AllBytesFrom smalldatetime,
  AllTimeLimit float,
  AllTimeLeft float,
  AllTimeFrom smalldatetime,
  DateLimit smalldatetime,
  CheckFee int,
  FeeLimit float,
  FeeLeft float,
  FeeStop float,
  FeeOption smallint,
  FeeByOutBytes float,
  FeeByAllBytes float,
  FeeByTime float
);
CREATE TABLE DepCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Enable int,
  LimitType smallint,
  Reset int,
  Reset2 int,
  BytesLimit float,
  BytesUsed float,
  BytesLeft float,
  AllBytesLimit float,
  AllBytesUsed float,
  AllBytesLeft float,
  TimeLimit float,
  TimeUsed float,
  TimeLeft float,
  AllTimeLimit float,
  AllTimeUsed float,
  AllTimeLeft float,
  DateLimit smalldatetime
);
CREATE INDEX IX_DepCtrl ON DepCtrl (Name);
CREATE TABLE GroupCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Enable int,
  LimitType smallint,
  Reset int,
  Reset2 int,
  BytesLimit float,
  BytesUsed float,
  BytesLeft float,
  AllBytesLimit float,
  AllBytesUsed float,
  AllBytesLeft float,
  TimeLimit float,
  TimeUsed float,
  TimeLeft float,
  AllTimeLimit float,
  AllTimeUsed float,
  AllTimeLeft float,
  DateLimit smalldatetime
);
CREATE INDEX IX_GroupCtrl ON GroupCtrl (Name);
CREATE TABLE DepFee (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  FeeAdd float
);
CREATE INDEX IX_DepFee ON DepFee (Name);
CREATE TABLE GroupFee (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  FeeAdd float
);
CREATE INDEX IX_GroupFee ON GroupFee (Name);
CREATE TABLE DepFeeCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float,
  FeeLeft float,
  FeeAdd float
);
CREATE INDEX IX_DepFeeCtrl ON DepFeeCtrl (Name);
CREATE TABLE GroupFeeCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float,
  FeeLeft float,
  FeeAdd float
);
CREATE INDEX IX_GroupFeeCtrl ON GroupFeeCtrl (Name);
CREATE TABLE DepInfo (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float
);
CREATE INDEX IX_DepInfo ON DepInfo (Name);
CREATE TABLE GroupInfo (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float
);
CREATE INDEX IX_GroupInfo ON GroupInfo (Name);
CREATE TABLE Deps (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS NOT NULL,
  AdsType smallint,
  AdsPath nvarchar(255) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Enable int,
  EnableDate smalldatetime,
  Auth smallint,
  Dirty int,
  LimitType smallint,
  ResetDate smalldatetime,
  ResetDate2 smalldatetime,
  BytesLimit float,
  BytesLeft float,
  BytesQuotaPeriod int,
  TimeLimit float,
  TimeLeft float,
  TimeQuotaPeriod int,
  AllBytesLimit float,
  AllBytesLeft float,
  AllBytesFrom smalldatetime,
  AllTimeLimit float,
  AllTimeLeft float,
  AllTimeFrom smalldatetime,
  DateLimit smalldatetime,
  LimitTypeDefault smallint,
  BytesLimitDefault float,
  BytesQuotaPeriodDefault int,
  TimeLimitDefault float,
  TimeQuotaPeriodDefault int,
  AllBytesLimitDefault float,
  AllBytesFromDefault smalldatetime,
  AllTimeLimitDefault float,
  AllTimeFromDefault smalldatetime,
  DateLimitDefault smalldatetime,
  CheckFee int,
  FeeLimit float,
  FeeLeft float,
  FeeStop float,
  FeeOption smallint,
  FeeByOutBytes float,
  FeeByAllBytes float,
  FeeByTime float
);
CREATE TABLE FileTransfer (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Protocol nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  SourceIP nvarchar(15) COLLATE Chinese_PRC_CI_AS,
  DestIP nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  URL nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Category nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Port int,
  FileExt nvarchar(10) COLLATE Chinese_PRC_CI_AS,
  App nvarchar(20) COLLATE Chinese_PRC_CI_AS,
  StartTime smalldatetime,
  EndTime smalldatetime,
  TimeUsed bigint,
  OutBytes bigint,
  CacheBytes bigint,
  AllBytes bigint,
  Sign int
);
CREATE INDEX IX_FileTransfer ON FileTransfer (Name, SourceIP, FileExt);
CREATE TABLE Blocks (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Time smalldatetime,
  Protocol nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  SourceIP nvarchar(15) COLLATE Chinese_PRC_CI_AS,
  DestIP nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Category nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Port int,
  Rule nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  Sign int
);
CREATE INDEX IX_Blocks ON Blocks (Name, SourceIP);
CREATE TABLE Appset (
  Name nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  App nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE DestAddrset (
  Name nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  DestAddr nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE FileTypeset (
  Name nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  FileType nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE Portset (
  Name nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  Port nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE Protocolset (
  Name nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  Protocol nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE Warn (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Time smalldatetime,
  Protocol nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Port int,
  App nvarchar(20) COLLATE Chinese_PRC_CI_AS,
  SourceIP nvarchar(15) COLLATE Chinese_PRC_CI_AS,
  DestIP nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  URL nvarchar(250) COLLATE Chinese_PRC_CI_AS,
  Category nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  FileExt nvarchar(10) COLLATE Chinese_PRC_CI_AS,
  Warn nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  TimeUsed int,
  BytesReceived bigint,
  BytesSent bigint,
  Sign int
);
CREATE INDEX IX_Warn ON Warn (Name, SourceIP);
CREATE TABLE Groups (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  AdsType smallint,
  AdsPath nvarchar(255) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Enable int,
  EnableDate smalldatetime,
  Auth smallint,
  Dirty int,
  LimitType smallint,
  ResetDate smalldatetime,
  ResetDate2 smalldatetime,
  BytesLimit float,
  BytesLeft float,
  BytesQuotaPeriod int,
  TimeLimit float,
  TimeLeft float,
  TimeQuotaPeriod int,
  AllBytesLimit float,
  AllBytesLeft float,
  AllBytesFrom smalldatetime,
  AllTimeLimit float,
  AllTimeLeft float,
  AllTimeFrom smalldatetime,
  DateLimit smalldatetime,
  LimitTypeDefault smallint,
  BytesLimitDefault float,
  BytesQuotaPeriodDefault int,
  TimeLimitDefault float,
  TimeQuotaPeriodDefault int,
  AllBytesLimitDefault float,
  AllBytesFromDefault smalldatetime,
  AllTimeLimitDefault float,
  AllTimeFromDefault smalldatetime,
  DateLimitDefault smalldatetime,
  CheckFee int,
  FeeLimit float,
  FeeLeft float,
  FeeStop float,
  FeeOption smallint,
  FeeByOutBytes float,
  FeeByAllBytes float,
  FeeByTime float
);
CREATE TABLE LimitIP (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  StartIP nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  EndIP nvarchar(50) COLLATE Chinese_PRC_CI_AS
);
CREATE TABLE RecInfo (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Protocol nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  SourceIP nvarchar(15) COLLATE Chinese_PRC_CI_AS,
  StartTime smalldatetime,
  EndTime smalldatetime,
  TimeUsed int,
  OutBytes int,
  CacheBytes int,
  AllBytes int
);
CREATE INDEX IX_RecInfo ON RecInfo (Name, SourceIP);
CREATE TABLE RecUrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Time smalldatetime,
  Protocol nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Port int,
  App nvarchar(20) COLLATE Chinese_PRC_CI_AS,
  SourceIP nvarchar(15) COLLATE Chinese_PRC_CI_AS,
  DestIP nvarchar(200) COLLATE Chinese_PRC_CI_AS,
  URL nvarchar(250) COLLATE Chinese_PRC_CI_AS,
  Category nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  TimeUsed bigint,
  BytesReceived bigint,
  BytesSent bigint,
  Sign int
);
CREATE INDEX IX_RecUrl ON RecUrl (Name, SourceIP, Protocol, App, Port, DestIP);
CREATE TABLE UserCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Enable int,
  LimitType smallint,
  Reset int,
  Reset2 int,
  BytesLimit float,
  BytesUsed float,
  BytesLeft float,
  AllBytesLimit float,
  AllBytesUsed float,
  AllBytesLeft float,
  TimeLimit float,
  TimeUsed float,
  TimeLeft float,
  AllTimeLimit float,
  AllTimeUsed float,
  AllTimeLeft float,
  DateLimit smalldatetime
);
CREATE INDEX IX_UserCtrl ON UserCtrl (Name);
CREATE TABLE ComputerCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  Enable int,
  LimitType smallint,
  Reset int,
  Reset2 int,
  BytesLimit float,
  BytesUsed float,
  BytesLeft float,
  AllBytesLimit float,
  AllBytesUsed float,
  AllBytesLeft float,
  TimeLimit float,
  TimeUsed float,
  TimeLeft float,
  AllTimeLimit float,
  AllTimeUsed float,
  AllTimeLeft float,
  DateLimit smalldatetime
);
CREATE INDEX IX_ComputerCtrl ON ComputerCtrl (Name);
CREATE TABLE UserFee (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  FeeAdd float
);
CREATE INDEX IX_UserFee ON UserFee (Name);
CREATE TABLE ComputerFee (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  FeeAdd float
);
CREATE INDEX IX_ComputerFee ON ComputerFee (Name);
CREATE TABLE UserFeeCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float,
  FeeLeft float,
  FeeAdd float
);
CREATE INDEX IX_UserFeeCtrl ON UserFeeCtrl (Name);
CREATE TABLE ComputerFeeCtrl (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float,
  FeeLeft float,
  FeeAdd float
);
CREATE INDEX IX_ComputerFeeCtrl ON ComputerFeeCtrl (Name);
CREATE TABLE UserInfo (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float
);
CREATE INDEX IX_UserInfo ON UserInfo (Name);
CREATE TABLE ComputerInfo (
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Date smalldatetime,
  TimeUsed float,
  OutBytes float,
  CacheBytes float,
  AllBytes float,
  FeeUsed float
);
CREATE INDEX IX_ComputerInfo ON ComputerInfo (Name);
CREATE TABLE Users (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  Name nvarchar(50) COLLATE Chinese_PRC_CI_AS NOT NULL,
  FullName nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  RDN nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  AdsPath nvarchar(255) COLLATE Chinese_PRC_CI_AS,
  Dep nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Remarks nvarchar(100) COLLATE Chinese_PRC_CI_AS,
  UserType smallint,
  Domain nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  LastTime datetime,
  LimitIP smallint,
  AutoResume smallint,
  ResumeTime int,
  CurIP nvarchar(50) COLLATE Chinese_PRC_CI_AS,
  Enable int,
  EnableDate smalldatetime,
  Auth smallint,
  Dirty int,
  LimitType smallint,
  ResetDate smalldatetime,
  ResetDate2 smalldatetime,
  TimeLimit float,
  TimeLeft float,
  TimeQuotaPeriod int,
  BytesLimit float,
  BytesLeft float,
  BytesQuotaPeriod int,
  AllBytesLimit float,
  AllBytesLeft float,
  AllBytesFrom smalldatetime,
  AllTimeLimit float,
  AllTimeLeft float,
  AllTimeFrom smalldatetime,
  DateLimit smalldatetime,
  CheckFee int,
  FeeLimit float,
  FeeLeft float,
  FeeStop float,
  FeeOption smallint,
  FeeByOutBytes float,
  FeeByAllBytes float,
  FeeByTime float
);
CREATE TABLE Categoryset (
  Name nvarchar(100),
  Category nvarchar(200),
  Remarks nvarchar(100)
);
CREATE TABLE Ruleset (
  Name nvarchar(100),
  Rule nvarchar(200),
  Remarks nvarchar(100)
);
CREATE TABLE Threatset (
  Name nvarchar(100),
  Threat nvarchar(200),
  Level nvarchar(50),
  Remarks nvarchar(100)
);
CREATE TABLE Signatureset (
  Name nvarchar(100),
  Signature nvarchar(200),
  Remarks nvarchar(100)
);
CREATE TABLE Malware (
  Name nvarchar(50),
  Date smalldatetime,
  Time smalldatetime,
  TimeUsed int,
  SourceIP nvarchar(15),
  DestIP nvarchar(200),
  URL nvarchar(250),
  Category nvarchar(50),
  Protocol nvarchar(50),
  Port int,
  App nvarchar(20),
  BytesReceived bigint,
  BytesSent bigint,
  ThreatName nvarchar(50),
  ThreatLevel nvarchar(10),
  MalwareAction nvarchar(20),
  MalwareResult nvarchar(100),
  InspectTime int
);
CREATE INDEX IX_Malware ON Malware (Name);
CREATE TABLE NIS (
  Name nvarchar(50),
  Date smalldatetime,
  Time smalldatetime,
  SourceIP nvarchar(15),
  DestIP nvarchar(200),
  URL nvarchar(250),
  Category nvarchar(50),
  Protocol nvarchar(50),
  Port int,
  App nvarchar(20),
  NISSignature nvarchar(100),
  NISResult nvarchar(20),
  NISApp nvarchar(50)
);
CREATE INDEX IX_NIS ON NIS (Name);

-- Look-up indexes of the embedded database only, named LX_<table>: the collections update and
-- delete their rows one statement at a time by name (computers by address), which without an
-- index scans the whole table for every row, so that importing n rows over n costs n * n. The
-- server schema has no such indexes and its statements are sent unchanged.
CREATE INDEX LX_Users ON Users (Name);
CREATE INDEX LX_Deps ON Deps (Name);
CREATE INDEX LX_Groups ON Groups (Name);
CREATE INDEX LX_Computers ON Computers (IP);
CREATE INDEX LX_LimitIP ON LimitIP (Name);
CREATE INDEX LX_Appset ON Appset (Name);
CREATE INDEX LX_Categoryset ON Categoryset (Name);
CREATE INDEX LX_DestAddrset ON DestAddrset (Name);
CREATE INDEX LX_FileTypeset ON FileTypeset (Name);
CREATE INDEX LX_Portset ON Portset (Name);
CREATE INDEX LX_Protocolset ON Protocolset (Name);
CREATE INDEX LX_Ruleset ON Ruleset (Name);
CREATE INDEX LX_Signatureset ON Signatureset (Name);
CREATE INDEX LX_Threatset ON Threatset (Name);
