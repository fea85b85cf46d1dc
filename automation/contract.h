// The automation contract of class quibVoiceRec: its GUIDs and the dual
// interface IquibVoiceRec, whose slots 7 to 17 are in the type library's order.
#pragma once

#include "platform/objectmodel.h"

constexpr CLSID CLSID_quibVoiceRec = {0x6E3A5C22, 0x2B7D, 0x4F18, {0xA9, 0xC4, 0x5D, 0x0E, 0x7B, 0x31, 0xF2, 0xA8}};
constexpr IID IID_IquibVoiceRec = {0x6E3A5C21, 0x2B7D, 0x4F18, {0xA9, 0xC4, 0x5D, 0x0E, 0x7B, 0x31, 0xF2, 0xA8}};
constexpr IID DIID__IquibVoiceRecEvents = {0x6E3A5C23, 0x2B7D, 0x4F18, {0xA9, 0xC4, 0x5D, 0x0E, 0x7B, 0x31, 0xF2, 0xA8}};
constexpr GUID LIBID_QUIBVOICERECLib = {0x6E3A5C13, 0x2B7D, 0x4F18, {0xA9, 0xC4, 0x5D, 0x0E, 0x7B, 0x31, 0xF2, 0xA8}};

struct IquibVoiceRec : IDispatch {
  virtual HRESULT Init(BSTR filename, LONG hwnd, LONG style) = 0;  // slot 7, id 1
  virtual HRESULT get_HWnd(LONG* value) = 0;                       // slot 8, id 2
  virtual HRESULT Record(BSTR filename) = 0;                       // slot 9, id 3
  virtual HRESULT Play() = 0;                                      // slot 10, id 4
  virtual HRESULT Stop() = 0;                                      // slot 11, id 5
  virtual HRESULT Save() = 0;                                      // slot 12, id 6
  virtual HRESULT Discard() = 0;                                   // slot 13, id 7
  virtual HRESULT Show() = 0;                                      // slot 14, id 8
  virtual HRESULT Hide() = 0;                                      // slot 15, id 9
  virtual HRESULT PlayFile(BSTR filename) = 0;                     // slot 16, id 10
  virtual HRESULT get_Active(LONG* value) = 0;                     // slot 17, id 11
};
