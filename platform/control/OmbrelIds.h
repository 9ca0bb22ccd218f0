// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The identities of the Ombrel progress bar that the library and its hosts are both built
// against: class, interfaces, type library, ProgID and the dispatch ids hosts use at run time.
#pragma once

#include "platform/control/Control.h"

namespace platform::control::ombrel {

inline constexpr char ProgId[] = "Ombrel.OmbrelGauge";
inline constexpr char LibraryFileName[] = "libombrel.so";

// OmbrelGauge, the creatable control class.
inline constexpr Guid ClassId{
    0xF98BA2BD, 0x1CE7, 0x4099, {0x92, 0x99, 0x42, 0xCC, 0x16, 0x94, 0x30, 0xF4}};
// _OmbrelGauge, its default dispatch interface.
inline constexpr Guid DispatchIid{
    0xAF545E4D, 0x6719, 0x46FA, {0x97, 0x95, 0xF6, 0x24, 0x0D, 0xAD, 0x97, 0x81}};
// __OmbrelGauge, its default source interface; it has no members.
inline constexpr Guid EventsIid{
    0x9505C7AA, 0xCDA5, 0x43A9, {0x9C, 0x21, 0x6A, 0xAE, 0x70, 0x5A, 0x9C, 0x21}};
// The type library "Ombrel" 1.0.
inline constexpr Guid TypeLibId{
    0xCBE39D83, 0xFEC3, 0x44B9, {0x88, 0x65, 0xC0, 0x01, 0xB2, 0xAC, 0x0E, 0xFD}};
inline constexpr char TypeLibVersion[] = "1.0";

namespace dispid {
inline constexpr DispId Value = 0x68030011;
inline constexpr DispId BackColor = 0x68030010;
inline constexpr DispId BorderWidth = 0x6803000F;
inline constexpr DispId FontUnderline = 0x6803000E;
inline constexpr DispId FontStrikethru = 0x6803000D;
inline constexpr DispId FontSize = 0x6803000C;
inline constexpr DispId FontName = 0x6803000B;
inline constexpr DispId FontItalic = 0x6803000A;
inline constexpr DispId FontBold = 0x68030009;
inline constexpr DispId Font = -512;
inline constexpr DispId PercentColor = 0x68030008;
inline constexpr DispId ProgressColor = 0x68030007;
inline constexpr DispId BorderColor = 0x68030006;
inline constexpr DispId PercentVisible = 0x68030005;
inline constexpr DispId FadeInColor = 0x68030004;
inline constexpr DispId FadeOutColor = 0x68030003;
inline constexpr DispId Refresh = 0x6003001E;
inline constexpr DispId About = 0x6003001F;
inline constexpr DispId Picture = 0x68030001;
inline constexpr DispId FadeEnabled = 0x68030000;
} // namespace dispid

} // namespace platform::control::ombrel
