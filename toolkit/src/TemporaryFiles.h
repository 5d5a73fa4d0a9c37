#pragma once
// The temporary files of transcripts being written, known to the signal handlers so that
// a program killed by a second termination signal does not leave them behind.

namespace tk::detail {

// Records the file `name` (at most 31 bytes) in the folder `folder`; gives a slot for
// ForgetTemporaryFile, or -1 when every slot is taken (the file is then not known).
int RememberTemporaryFile(int folder, const char* name) noexcept;
void ForgetTemporaryFile(int slot) noexcept;

}  // namespace tk::detail
