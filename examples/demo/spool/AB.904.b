Buongiorno,
in allegato la fattura elettronica FT2026-0043 (Factur-X: il PDF contiene il file XML della fattura).
