Buongiorno,
in allegato la fattura FT2026-0042 con le condizioni di vendita.
