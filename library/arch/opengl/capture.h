// The frame writer: writes captured frames to image files on a thread of its
// own, so that encoding one frame overlaps drawing the next. One frame waits
// at most; files are written in the order they were handed over.
#pragma once

struct image;

// Hands over the pixels of `capture` (rows bottom first, as GL reads them)
// to be written upright to `name` (.tga or .bmp): first waits for the frame
// before, then exchanges the capture's pixels with the writer's spare buffer.
// Writes nothing when the capture is not plain 8-bit rows.
void capture_write(image* capture, const char* name);
// Returns when every frame handed over is in its file. Also runs at exit.
void capture_flush();
