// Registration scripts in the syntax of the ATL registrar (.rgs), applied to HKEY_CLASSES_ROOT.
//
//   HKCR
//   {
//     QVA.Array = s 'QVAArray Class'
//     {
//       CLSID = s '{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}'
//     }
//     NoRemove CLSID
//     {
//       ForceRemove {3FB85A50-2E17-4E7C-BC72-DAE077D4BC63} = s 'QVAArray Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Grammar and meaning follow the ATL registrar:
// - A script is one or more blocks "root { entries }"; the root is HKCR or HKEY_CLASSES_ROOT (any
//   case). The other hives ATL knows (HKLM, HKCU, ...) are refused with
//   HRESULT_FROM_WIN32(ERROR_BADKEY): this registry holds HKEY_CLASSES_ROOT only.
// - An entry is "[modifier] name [= type value] [{ entries }]". Tokens are separated by white
//   space; "=" and "}" stand alone; "{" opens a block only as a word of its own, so bare names such
//   as {3FB85A50-...} need no quotes. A name or value in single quotes may hold spaces; '' inside
//   quotes is one quote. Quoted text is always a name or value, never a keyword, so 'val' or
//   'Delete' can name a key (ATL would take them as keywords even in quotes).
// - Types: s (string) and d (DWORD: decimal, or hexadecimal after 0x or &H, stored as its
//   unsigned decimal text since values here are strings). b, m and e (binary, multi-string,
//   expandable string) are refused with REGDB_E_INVALIDVALUE.
// - Modifiers (any case): ForceRemove deletes the key with its whole subtree before creating it on
//   registration; NoRemove keeps the key on unregistration while its entries are still
//   processed; Delete deletes the key with its subtree on registration (an assignment after it is
//   ignored, a block is an error); "val name = type value" is a named value of the enclosing key.
// - "%NAME%" is replaced by replacements[NAME] (names compared case-insensitively) and "%%" is a
//   percent sign. Replacement happens inside each name or value after the script is split into
//   tokens, so a replacement holding quotes or spaces (a module path) cannot change the structure
//   (ATL replaces before splitting, where such a path breaks the script).
// - Unregistration removes what registration added: each "val" value, then each key after its
//   entries, unless it is NoRemove. Keys go as Win32 RegDeleteKey removes them, which is what the
//   Wine and ReactOS registrars rely on: a key that still holds sub-keys the script did not name
//   (another component's) is kept, and a ForceRemove key is removed like any other, not as a
//   whole subtree. Keys and values already absent are skipped.
//
// Errors: every syntax error (unterminated quote or block, missing value, type that is not a
// single letter, unknown type, unknown or unterminated %NAME%, key name that is empty or holds a
// backslash, nesting deeper than RegistryKey::kMaxDepth) gives DISP_E_EXCEPTION, as ATL does; a
// key name the registry cannot hold (control characters, over 255 characters) gives E_INVALIDARG.
// The whole script is checked before anything is applied and applied to a copy, so on any
// failure `root` is left exactly as it was.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com/registry.h"
#include "platform/com/text.h"

namespace com {

// Registers (do_register) or unregisters `script` under `root`, which stands for
// HKEY_CLASSES_ROOT. Returns S_OK, or the failure code with `root` unchanged.
COM_CXX_API HRESULT ApplyRegistrationScript(RegistryKey& root, std::string_view script,
                                            const std::map<std::string, std::string>& replacements, bool do_register);

}  // namespace com
