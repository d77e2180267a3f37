// SPDX-License-Identifier: MIT
// Compiled with -include HEADER: the header is the whole translation unit.
