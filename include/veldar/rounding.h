/// @file
///
/// How an operation rounds a result that has more digits than it may keep.
///
/// The mode is always an argument of the operation; there is no global
/// rounding state. On 2.345 kept to two fraction digits (and on -2.345):
/// ```
///   down       toward zero                           2.34   (-2.34)
///   up         away from zero                        2.35   (-2.35)
///   ceiling    toward plus infinity                  2.35   (-2.34)
///   floor      toward minus infinity                 2.34   (-2.35)
///   halfup     to the nearest, a tie away from zero  2.35   (-2.35)
///   halfdown   to the nearest, a tie toward zero     2.34   (-2.34)
///   halfeven   to the nearest, a tie to an even digit 2.34  (-2.34)
///   exact      no digit but zeros may be dropped: otherwise the operation
///              throws std::domain_error "Rounding necessary!" and changes
///              nothing
/// ```
#pragma once

namespace VELDAR {

enum class rounding { down, up, ceiling, floor, halfup, halfdown, halfeven, exact };

}  // namespace VELDAR
