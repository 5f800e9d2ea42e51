#pragma once

namespace mchost {

// Makes the pages of [begin, end) present and writable, so that the thread
// that fills them next takes no page faults: the kernel zeroes a fresh
// page when it is first written, and that work is better done by a thread
// that would otherwise wait. Pages already present are left as they are;
// memory not yet present in the range need hold nothing yet. Populates
// through the kernel where it can, else writes a zero byte to each page
// that starts in the range.
void FaultInPages(char* begin, char* end);
// The fallback alone: a zero byte to each page that starts in [begin, end).
void TouchPages(char* begin, char* end);

}  // namespace mchost
