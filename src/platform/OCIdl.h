// Platform layer: the object-site and connection-point interfaces through
// which a browser and its helpers find each other.
// Promises: the interfaces and identifiers with their Windows layout and
// meaning. IObjectWithSite: SetSite hands an object its site (null takes it
// away), GetSite asks the stored site for an interface. A connection-point
// container finds the connection point of an outgoing interface
// (CONNECT_E_NOCONNECTION when it has none); Advise subscribes a sink,
// which the point asks for the outgoing interface, and returns a non-zero
// cookie; Unadvise with that cookie ends the subscription
// (CONNECT_E_NOCONNECTION for an unknown cookie). Connection enumeration is
// declared and need not be provided (E_NOTIMPL). Implemented by the hosts
// and the module; nothing here has code.
#pragma once

#include "platform/Unknwn.h"

struct IEnumConnections;
struct IEnumConnectionPoints;
struct IConnectionPointContainer;

constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202u);

// {FC4801A3-2BA9-11CF-A229-00AA003D7352}
inline constexpr IID IID_IObjectWithSite = {
    0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};
// {B196B284-BAB4-101A-B69C-00AA00341D07}
inline constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B286-BAB4-101A-B69C-00AA00341D07}
inline constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

struct IObjectWithSite : IUnknown {
  virtual HRESULT SetSite(IUnknown* pUnkSite) = 0;
  virtual HRESULT GetSite(REFIID riid, void** ppvSite) = 0;

 protected:
  ~IObjectWithSite() = default;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
