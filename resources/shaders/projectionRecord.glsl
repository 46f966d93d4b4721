// The output's projection record (80 bytes) as five rows of four 32-bit words:
// [0] span flag (byte 0), rows, cols, row | [1] col, paddings x | y << 16, picture width, height
// | [2] destination width, height, orientation (float), gamma (float) | [3] left blending, gamma,
// right blending, gamma | [4] the two vertical edges, blending and gamma each: the view hands them
// over exchanged, so row 4 starts with the edge at the picture's bottom, then its top.
#define PROJECTION_RECORD { uvec4 words[5]; }
