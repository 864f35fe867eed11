Buongiorno,
in allegato la conferma del Vostro ordine.
