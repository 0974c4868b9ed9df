# BMP reader, extended bitmap and grey conversion sources: target_sources(tessaly_imaging PRIVATE ...)
