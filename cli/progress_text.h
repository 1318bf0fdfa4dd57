#pragma once
// The texts the packer shows while it works.

#include <cstdint>
#include <string>

namespace mailsheaf {

// "0 B", "1023 B", "1.0 KiB", "12.34 MiB", "123.4 MiB", "2.00 GiB": KiB with one decimal,
// larger units with two below 100 and one from there.
std::u16string ByteText(uint64_t bytes);

// The text cut to at most `width` characters; a cut removes the middle and puts "..." there,
// so that both the start and the end of a path stay visible.
std::u16string FitText(const std::u16string& text, size_t width);

// One line of the live display, exactly `width` characters wide (padded with blanks), so that
// it overwrites the previous one after a carriage return:
// "[######......]  42%  123.4 MiB  45.6 MiB/s  /path/of/the/current.eml"
std::u16string ProgressLine(int percent, uint64_t bytes_done, double bytes_per_second,
                            const std::u16string& current, size_t width);

}  // namespace mailsheaf
