In allegato il tabulato delle vendite del mese.
