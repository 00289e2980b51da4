// Rating, private label and orientation in a picture file's XMP metadata.
#pragma once

// Brings the toolkit down once, at window destruction.
void TerminateXmpToolkit();
