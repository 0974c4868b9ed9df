# PNG codec and PNG file function sources: target_sources(tessaly_imaging ...); links PNG::PNG
