int ostrel_placeholder;
