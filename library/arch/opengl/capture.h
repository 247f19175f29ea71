// The frame writer: writes captured frames to image files on a thread of its
// own, so that encoding one frame overlaps drawing the next. One frame waits
// at most; files are written in the order they were handed over.
#pragma once

struct image;
struct frame_writer;
struct stop_request;

// A writer that raises `stop` (status 1) when a file cannot be written.
frame_writer* frame_writer_make(stop_request* stop);
// Waits for the frame in hand, then ends the thread.
void frame_writer_destroy(frame_writer* writer);

// Hands over the pixels of `capture` (rows bottom first, as GL reads them)
// to be written upright to `name` (.tga or .bmp): first waits for the frame
// before, then exchanges the capture's pixels with the writer's spare buffer.
// Writes nothing when the capture is not plain 8-bit rows, or once a write
// has failed.
void capture_write(frame_writer* writer, image* capture, const char* name);
// Returns when every frame handed over is in its file.
void capture_flush(frame_writer* writer);
