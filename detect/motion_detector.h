// The motion detector: compares each 24-bit frame, reduced to a half-size grey picture with
// its mean brightness moved to 127, with a reference picture kept between calls.
#pragma once

// Result codes of DetectMotion.
enum : int { kNoMotion = 0, kMotion = 1, kRefused = 2 };

// Compares the packed bitmap at `frame` (header, then bottom-up rows) with the reference.
// A null frame makes the next accepted frame the reference. Gives 0 (no motion, or the
// frame became the reference), 1 (motion: the frame is the new reference) or 2 (refused:
// not 24 bits, another size than the first frame, smaller than 2 x 2, or out of memory).
int DetectMotion(const unsigned char* frame, int pixelThreshold, int totalThreshold);

// Makes the next frame the reference and clears the motion-detected flag; gives 0.
int ResetDetector();
