// The records of the seven real-time views: plain data behind get/put property pairs, no
// behaviour of their own beyond the traffic record's two counters. A record is made by its view's
// `Add` (which sets only `Name`) and filled by the service; it is never written anywhere.
//
// Fields keep the types the interfaces give them: text as UTF-8 (converted from and to UTF-16 at
// every property), dates as DATE, numbers as 32-bit signed integers. A new record has empty
// texts, dates 0 (1899-12-30 00:00) and numbers 0. Each record class names its data `Data` and
// its record interface `Interface`, which is all the view pattern (real_view.h) needs of it.
#pragma once

#include <string>

#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva {

// One line of current traffic of a user at an address.
class CQVARealTraffic : public com::Dispatch<IQVARealTraffic> {
 public:
  using Interface = IQVARealTraffic;
  struct Data {
    std::string name;
    std::string source_addr;
    DATE start_time = 0;
    DATE end_time = 0;
    LONG out_bytes = 0;
    LONG in_bytes = 0;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealTraffic;

 private:
  Data data_;
};

// A user seen in current traffic.
class CQVARealUser : public com::Dispatch<IQVARealUser> {
 public:
  using Interface = IQVARealUser;
  struct Data {
    std::string name;
    std::string source_addr;
    std::string dest_addr;
    std::string url;
    std::string protocol;
    LONG port = 0;
    std::string app;
    DATE start_time = 0;
    DATE end_time = 0;
    LONG out_bytes = 0;
    LONG in_bytes = 0;
    LONG time_used = 0;
    LONG action = 0;
    LONG priority = 0;
    LONG rule_fit = 0;
    std::string category;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealUser;

 private:
  Data data_;
};

// A warning raised by a warning rule.
class CQVARealWarn : public com::Dispatch<IQVARealWarn> {
 public:
  using Interface = IQVARealWarn;
  struct Data {
    std::string name;
    std::string source_addr;
    std::string dest_addr;
    std::string url;
    std::string file_ext;
    std::string protocol;
    LONG port = 0;
    std::string app;
    DATE start_time = 0;
    DATE end_time = 0;
    std::string warn;
    LONG out_bytes = 0;
    LONG in_bytes = 0;
    LONG time_used = 0;
    LONG action = 0;
    LONG priority = 0;
    LONG rule_fit = 0;
    std::string category;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealWarn;

 private:
  Data data_;
};

// A file transfer.
class CQVARealFile : public com::Dispatch<IQVARealFile> {
 public:
  using Interface = IQVARealFile;
  struct Data {
    std::string name;
    DATE time = 0;
    std::string protocol;
    std::string source_addr;
    std::string dest_addr;
    std::string url;
    LONG port = 0;
    std::string file_ext;
    std::string app;
    LONG in_bytes = 0;
    LONG out_bytes = 0;
    LONG time_used = 0;
    LONG action = 0;
    LONG priority = 0;
    LONG rule_fit = 0;
    std::string category;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealFile;

 private:
  Data data_;
};

// A blocked request. `Action` is the service's code, `sAction` its text.
class CQVARealBlock : public com::Dispatch<IQVARealBlock> {
 public:
  using Interface = IQVARealBlock;
  struct Data {
    std::string name;
    DATE time = 0;
    std::string protocol;
    std::string source_addr;
    LONG port = 0;
    std::string dest_addr;
    LONG action = 0;
    std::string rule;
    std::string s_action;
    LONG priority = 0;
    LONG rule_fit = 0;
    std::string category;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealBlock;

 private:
  Data data_;
};

// A malware finding. `AllBytes` is a field of its own, not the sum of the other two counters;
// `Time` and `Date` are two separate dates.
class CQVARealMalware : public com::Dispatch<IQVARealMalware> {
 public:
  using Interface = IQVARealMalware;
  struct Data {
    std::string name;
    DATE time = 0;
    LONG time_used = 0;
    std::string source_ip;
    std::string dest_addr;
    std::string url;
    std::string category;
    std::string protocol;
    std::string app;
    LONG port = 0;
    LONG out_bytes = 0;
    LONG in_bytes = 0;
    LONG all_bytes = 0;
    std::string threat_name;
    std::string threat_level;
    std::string malware_action;
    LONG inspect_time = 0;
    LONG priority = 0;
    LONG rule_fit = 0;
    std::string malware_result;
    DATE date = 0;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealMalware;

 private:
  Data data_;
};

// An intrusion (network inspection) finding. `Date` and `Time` are two separate dates.
class CQVARealNIS : public com::Dispatch<IQVARealNIS> {
 public:
  using Interface = IQVARealNIS;
  struct Data {
    std::string name;
    DATE date = 0;
    DATE time = 0;
    std::string source_ip;
    std::string dest_addr;
    std::string url;
    std::string category;
    std::string protocol;
    std::string app;
    LONG port = 0;
    std::string signature;
    std::string nis_result;
    std::string nis_app;
    LONG priority = 0;
    LONG rule_fit = 0;
  };
  Data& data() { return data_; }
  const Data& data() const { return data_; }

  QVA_DECL_IQVARealNIS;

 private:
  Data data_;
};

}  // namespace qva
