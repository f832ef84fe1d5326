# The wire form of a remote connection to the accounting service. Every COM object crosses as an
# `Object` capability: the RPC system counts the references, drops an object when the peer lets
# go of its last one and drops every object of a connection when the connection ends.
#
# A connection starts at the `Gate` (the bootstrap capability). Nothing but the gate is reachable
# until a login succeeds; the `Session` it hands out activates the service's class.
@0xb4988fcb7f5e6511;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("qva::remote::wire");

# One automation value: an argument, a result or an element of a VARIANT enumeration.
struct Value {
  union {
    empty @0 :Void;          # VT_EMPTY
    null @1 :Void;           # VT_NULL
    i2 @2 :Int16;
    i4 @3 :Int32;
    r4 @4 :Float32;
    r8 @5 :Float64;
    cy @6 :Int64;            # VT_CY, in ten-thousandths
    date @7 :Float64;        # VT_DATE: days since 1899-12-30, time of day as the fraction
    bstr @8 :Data;           # UTF-16LE code units, embedded NULs kept; empty is an empty string
    nullBstr @9 :Void;       # a VT_BSTR whose pointer is null
    dispatch @10 :ObjectRef;
    error @11 :Int32;        # VT_ERROR (a missing optional argument is DISP_E_PARAMNOTFOUND)
    boolean @12 :Int16;      # VT_BOOL, raw: some members answer 1 for true, and it stays 1
    unknown @13 :ObjectRef;
    i1 @14 :Int8;
    ui1 @15 :UInt8;
    ui2 @16 :UInt16;
    ui4 @17 :UInt32;
    i8 @18 :Int64;
    ui8 @19 :UInt64;
    int32 @20 :Int32;        # VT_INT
    uint32 @21 :UInt32;      # VT_UINT
  }
}

# An interface pointer. A null pointer is a reference without `object`.
struct ObjectRef {
  object @0 :Object;
  # The interface the object's IDispatch answers (16 bytes, the GUID's in-memory layout), when
  # the sender knows it; a receiver can then hand out that interface without asking.
  dispatchIid @1 :Data;
  enumerator @2 :Bool;       # the object answers IEnumVARIANT
}

# Error information of a failed call (IErrorInfo).
struct ErrorInfo {
  guid @0 :Data;
  source @1 :Text;
  description @2 :Text;
}

interface Object {
  # Every method carries the caller's causality: the chain of calls it belongs to (a console's
  # call, the calls back it causes, their calls in turn). While a served call waits for a call
  # back, the receiver serves at once only calls of the same chain; others wait their turn. Zero:
  # a chain of its own.
  #
  # Calls member `method` (its index among the interface's own members, in vtable order, after
  # IUnknown's and IDispatch's) of interface `iid`. `outs` are the [out] values in declaration
  # order, present when `hr` is a success code; `error` accompanies a failure code.
  call @0 (iid :Data, method :UInt16, args :List(Value), causality :UInt64)
      -> (hr :Int32, outs :List(Value), error :ErrorInfo);
  queryInterface @1 (iid :Data) -> (hr :Int32);  # answered at once: it runs no member

  # IEnumVARIANT. `next` answers up to `count` values at once (the server may answer fewer than
  # asked, but then says S_FALSE only at the end of the sequence).
  next @2 (count :UInt32, causality :UInt64) -> (hr :Int32, items :List(Value));
  skip @3 (count :UInt32, causality :UInt64) -> (hr :Int32);
  reset @4 (causality :UInt64) -> (hr :Int32);
  clone @5 (causality :UInt64) -> (hr :Int32, enumerator :Object);
}

interface Session {
  # Activates class `clsid` and asks it for every interface of `iids`. `results` holds one code
  # per interface; `object` is null when none was granted.
  activate @0 (clsid :Data, iids :List(Data)) -> (hr :Int32, object :ObjectRef, results :List(Int32));
}

interface Gate {
  # The challenge-response login (SCRAM-SHA-256 in substance). The client sends the account and
  # a fresh nonce; the gate answers the account's salt and iteration count and its own nonce.
  # An unknown account gets a made-up salt, so the answer does not reveal which accounts exist.
  beginLogin @0 (user :Text, domain :Text, clientNonce :Data)
      -> (salt :Data, iterations :UInt32, serverNonce :Data);
  # The client proves it knows the password without sending it; the gate answers its own proof
  # (that it holds the account's verifier) and the session, or E_ACCESSDENIED and no session.
  # One attempt per connection.
  finishLogin @1 (proof :Data) -> (hr :Int32, serverSignature :Data, session :Session);
  # A login without an identity: granted only to a caller on the local socket that runs as the
  # service's own user or as root.
  localLogin @2 () -> (hr :Int32, session :Session);
}
